#include "CCaptureAudio.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "PulseAudioInput.h"

namespace {
using Clock = std::chrono::steady_clock;
// How often the thread looks for captured sound.
constexpr auto kPoll = std::chrono::milliseconds(10);
// How far a real source may lag behind (or run ahead of) the clock before silence is added
// (or sound dropped): room for the server's own latency.
constexpr long long kSlackMs = 200;
}  // namespace

CCaptureAudio::Ring::Ring() : bytes_(std::make_unique<unsigned char[]>(kRingBytes)) {}

std::size_t CCaptureAudio::Ring::Write(const unsigned char* data, std::size_t count) {
    count = std::min(count, Free());
    const std::size_t pos = static_cast<std::size_t>(in_) & (kRingBytes - 1);
    const std::size_t first = std::min(count, kRingBytes - pos);
    if (data != nullptr) {
        std::memcpy(bytes_.get() + pos, data, first);
        std::memcpy(bytes_.get(), data + first, count - first);
    } else {
        std::memset(bytes_.get() + pos, 0, first);
        std::memset(bytes_.get(), 0, count - first);
    }
    in_ += count;
    return count;
}

std::size_t CCaptureAudio::Ring::WriteSilence(std::size_t count) { return Write(nullptr, count); }

std::size_t CCaptureAudio::Ring::Read(unsigned char* out, std::size_t count) {
    count = std::min(count, Available());
    const std::size_t pos = static_cast<std::size_t>(out_) & (kRingBytes - 1);
    const std::size_t first = std::min(count, kRingBytes - pos);
    std::memcpy(out, bytes_.get() + pos, first);
    std::memcpy(out + first, bytes_.get(), count - first);
    out_ += count;
    return count;
}

CCaptureAudio::CCaptureAudio()
    : CCaptureAudio([](const std::string& source, const platform::AudioFormat& format) {
          std::string error;
          auto input = pulse::OpenSource(source, format, &error);
          if (!input)
              std::fprintf(stderr, "Could not open the sound source '%s': %s\n", source.c_str(), error.c_str());
          return input;
      }) {}

CCaptureAudio::CCaptureAudio(InputFactory factory) : factory_(std::move(factory)) {}

CCaptureAudio::~CCaptureAudio() {
    Stop();
    if (thread_.joinable()) thread_.join();
}

void CCaptureAudio::SetFormat(int sampleRate, int bitsPerSample, int channels) {
    format_.sampleRate = sampleRate;
    format_.bitsPerSample = bitsPerSample;
    format_.channels = channels;
}

bool CCaptureAudio::Open(const std::optional<std::string>& device) {
    Stop();
    if (!device.has_value()) return false;
    auto input = factory_ ? factory_(*device, format_) : nullptr;
    if (!input) return false;
    input_ = std::move(input);
    silent_ = false;
    blockBytes_ = 0;
    stopped_ = false;
    return true;
}

bool CCaptureAudio::OpenSilence() {
    Stop();
    input_.reset();
    silent_ = true;
    blockBytes_ = 0;
    stopped_ = false;
    return true;
}

bool CCaptureAudio::Start(CAdoFrameHandler* handler) {
    if (thread_.joinable()) {
        // A second Start, or a thread left by a Stop made on the capture thread itself.
        capturing_ = false;
        if (thread_.get_id() == std::this_thread::get_id()) return false;
        thread_.join();
    }
    handler_ = handler;
    capturing_ = true;
    if (stopped_ || handler_ == nullptr || blockBytes_ <= 0 || format_.BytesPerSecond() <= 0) return false;
    ring_.Reset();
    thread_ = std::thread(&CCaptureAudio::Run, this);
    return true;
}

void CCaptureAudio::Stop() {
    if (stopped_) return;
    capturing_ = false;
    stopped_ = true;
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    blockBytes_ = 0;
    input_.reset();
    silent_ = false;
    ring_.Reset();
}

void CCaptureAudio::Run() {
    const std::size_t block = static_cast<std::size_t>(blockBytes_);
    const long long byteRate = format_.BytesPerSecond();
    const long long frameBytes = std::max(1, format_.channels * (format_.bitsPerSample / 8));
    const long long slack = input_ ? byteRate * kSlackMs / 1000 / frameBytes * frameBytes : 0;
    std::vector<unsigned char> scratch(std::max<std::size_t>(block, 8192));
    const auto start = Clock::now();
    long long produced = 0;  // bytes put into the ring since the start
    unsigned long long wake = 0;

    while (capturing_) {
        std::this_thread::sleep_until(start + kPoll * static_cast<long long>(++wake));
        if (!capturing_) break;
        const long long elapsedUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        const long long expected = elapsedUs * byteRate / 1000000 / frameBytes * frameBytes;

        if (input_) {
            for (;;) {
                const long got = input_->Read(scratch.data(), scratch.size());
                if (got < 0) {
                    // The server went away: the broadcast goes on with silence.
                    std::fprintf(stderr, "The sound capture stopped: %s\n", input_->Error().c_str());
                    input_.reset();
                    break;
                }
                if (got == 0) break;
                const long long room = std::max(0LL, expected + slack - produced);
                produced += static_cast<long long>(
                    ring_.Write(scratch.data(), static_cast<std::size_t>(std::min<long long>(got, room))));
            }
        }
        if (produced < expected - slack)
            produced += static_cast<long long>(ring_.WriteSilence(static_cast<std::size_t>(expected - slack - produced)));

        while (capturing_ && ring_.Available() >= block) {
            ring_.Read(scratch.data(), block);
            handler_->OnAudioFrame(scratch.data(), static_cast<int>(block));
        }
    }
}
