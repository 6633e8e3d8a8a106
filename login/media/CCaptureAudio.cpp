#include "CCaptureAudio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <utility>

#include "AudioSources.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {
using Clock = std::chrono::steady_clock;
// How often the thread looks for captured sound.
constexpr auto kPoll = std::chrono::milliseconds(10);
// A stream is late, rather than silent, when the server holds at least this much for it.
constexpr long long kLateMs = 10;
// A stream is steady, and followed when its clock is not ours, while it delivers no more than
// kSteadyPartMs at once (a pipe sink's monitor gives 4 KiB, 93 ms of 22050 Hz mono), at least
// every kSteadyGapMs, and is late by no more than that (a part on its way, as the server counts
// it). Anything else has its distance from the clock measured anew; a fill or a trim does not.
constexpr long long kSteadyPartMs = 200;
constexpr long long kSteadyGapMs = 200;
// That distance saws by a delivery's worth (20 ms from the servers): it is first the plain mean
// over kDriftSettleMs, then follows a low-pass of this time constant.
constexpr long long kDriftSettleMs = 2000;
constexpr double kDriftFilterMs = 2000;
// Within this of the distance it first had, a stream is left alone: one on our own clock keeps
// its samples exactly, wherever it sits (a monitor that began late sits near the silence rule
// for good).
constexpr double kDriftBandMs = 5;
// When a steady stream is trimmed all the same (it began with a backlog at the edge of the rule
// for excess, and runs fast), the distance it is held at moves this far inside the rule, so that
// the swings of a followed stream stay clear of it. A fill does not move it: a monitor that began
// late sits at the edge of the rule for silence on our own clock, and is left as it was.
constexpr double kDriftEdgeMs = 50;
// A stream's correction is given to the resampler as so many samples over this many seconds.
constexpr int kDriftSpanSeconds = 10;

std::string Describe(const platform::AudioSourceChoice& choice) {
    switch (choice.kind) {
    case platform::AudioSourceChoice::Kind::MicrophoneAndComputer: return "the microphone and the computer's sound";
    case platform::AudioSourceChoice::Kind::GameOnly: return "the game's sound";
    case platform::AudioSourceChoice::Kind::Source: break;
    }
    return "the sound source '" + choice.name + "'";
}
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

std::size_t CCaptureAudio::Ring::Skip(std::size_t count) {
    count = std::min(count, Available());
    out_ += count;
    return count;
}

std::size_t CCaptureAudio::Ring::Read(unsigned char* out, std::size_t count) {
    count = std::min(count, Available());
    if (count == 0) return 0;  // `out` may be the data of an empty buffer: null
    const std::size_t pos = static_cast<std::size_t>(out_) & (kRingBytes - 1);
    const std::size_t first = std::min(count, kRingBytes - pos);
    std::memcpy(out, bytes_.get() + pos, first);
    std::memcpy(out + first, bytes_.get(), count - first);
    out_ += count;
    return count;
}

CCaptureAudio::CCaptureAudio()
    : CCaptureAudio(Opener([](const platform::AudioSourceChoice& choice, const platform::AudioFormat& format,
                              std::string* error) { return platform::OpenAudioSources(choice, format, error); })) {}

CCaptureAudio::CCaptureAudio(InputFactory factory)
    : CCaptureAudio(SourcesFactory(
          [factory = std::move(factory)](const platform::AudioSourceChoice& choice,
                                         const platform::AudioFormat& format) -> std::unique_ptr<platform::IAudioSources> {
              if (!factory || choice.kind != platform::AudioSourceChoice::Kind::Source) return nullptr;
              auto input = factory(choice.name, format);
              if (!input) return nullptr;
              std::vector<std::unique_ptr<platform::IAudioInput>> inputs;
              inputs.push_back(std::move(input));
              return std::make_unique<platform::AudioInputList>(std::move(inputs));
          })) {}

CCaptureAudio::CCaptureAudio(SourcesFactory factory)
    : CCaptureAudio(Opener([factory = std::move(factory)](const platform::AudioSourceChoice& choice,
                                                          const platform::AudioFormat& format, std::string*) {
          return factory ? factory(choice, format) : nullptr;
      })) {}

CCaptureAudio::CCaptureAudio(Opener opener) : opener_(std::move(opener)) {}

CCaptureAudio::~CCaptureAudio() {
    Stop();
    if (thread_.joinable()) thread_.join();
}

void CCaptureAudio::SetFormat(int sampleRate, int bitsPerSample, int channels) {
    format_.sampleRate = sampleRate;
    format_.bitsPerSample = bitsPerSample;
    format_.channels = channels;
}

bool CCaptureAudio::Open(const std::optional<platform::AudioSourceChoice>& device) {
    Stop();
    if (!device.has_value()) return false;
    std::string error;
    auto sources = opener_(*device, format_, &error);
    if (!sources) {
        if (!error.empty()) std::fprintf(stderr, "Could not open %s: %s\n", Describe(*device).c_str(), error.c_str());
        return false;
    }
    sources_ = std::move(sources);
    device_ = device;
    silent_ = false;
    blockBytes_ = 0;
    stopped_ = false;
    return true;
}

bool CCaptureAudio::OpenSilence() {
    Stop();
    sources_.reset();
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
    if (stopped_ || handler_ == nullptr || blockBytes_ <= 0 || format_.BytesPerSecond() <= 0) return false;
    ring_.Reset();
    lagBytes_ = maxHeldBytes_ = filledBytes_ = trimmedBytes_ = fills_ = trims_ = 0;
    lowPpm_ = highPpm_ = 0;
    capturing_ = true;
    thread_ = std::thread(&CCaptureAudio::Run, this);
    return true;
}

void CCaptureAudio::Stop() {
    if (stopped_) return;
    capturing_ = false;
    stopped_ = true;
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    blockBytes_ = 0;
    sources_.reset();
    device_.reset();
    silent_ = false;
    ring_.Reset();
}

CCaptureAudio::Figures CCaptureAudio::MixFigures() const {
    return {lagBytes_.load(), maxHeldBytes_.load(), filledBytes_.load(), trimmedBytes_.load(),
            fills_.load(), trims_.load(), lowPpm_.load(), highPpm_.load()};
}

void CCaptureAudio::MixInto(int16_t* out, const int16_t* in, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const int sum = out[i] + in[i];
        out[i] = static_cast<int16_t>(sum > INT16_MAX ? INT16_MAX : (sum < INT16_MIN ? INT16_MIN : sum));
    }
}

// One stream of the mix: what it delivered and the mix has not taken yet.
struct CCaptureAudio::Track {
    struct SwrFree {
        void operator()(SwrContext* p) const { swr_free(&p); }
    };

    Ring held;
    long long burst = 0;  // the most it delivered at once
    bool delivered = false;
    bool late = false;    // the server holds sound of it that has not arrived
    bool failed = false;
    bool open = false;    // still among the streams of the set
    // Following a clock of its own.
    long long got = 0;          // delivered at this look
    long long owed = 0;         // by the server's word, at this look
    bool trimmed = false;       // at this look
    long long quietLooks = 0;   // since it last delivered
    long long steadyLooks = 0;  // for which it has been steady
    double sum = 0;             // of its distance from the clock, while that is first measured
    double level = 0;           // its distance from the clock (bytes ahead), filtered
    std::optional<double> aim;  // the distance it is held at: the first it had
    int ppm = 0;                // the correction now: above 0 stretches it
    bool cannotStretch = false;
    std::unique_ptr<SwrContext, SwrFree> resampler;  // from its first correction on
    std::vector<unsigned char> stretched;

    void Follow(double ahead, bool steady, bool trimmedNow, const platform::AudioFormat& format);
    void Steer(int to, const platform::AudioFormat& format);
    std::size_t Stretch(const unsigned char*& data, std::size_t count, int frameBytes);
};

// `ahead`: how far the stream's sound reaches beyond the clock now, in bytes, before the rule for
// excess trimmed it at this look (`trimmedNow`).
void CCaptureAudio::Track::Follow(double ahead, bool steady, bool trimmedNow, const platform::AudioFormat& format) {
    const long long settleLooks = kDriftSettleMs / kPoll.count();
    if (!steady) {
        steadyLooks = 0;
        sum = 0;
        Steer(0, format);
        return;
    }
    if (trimmedNow) {
        // At the edge already: it is followed at once, from inside it.
        const double inside = ahead - kDriftEdgeMs * format.BytesPerSecond() / 1000.0;
        aim = aim ? std::min(*aim, inside) : inside;
        if (steadyLooks < settleLooks) level = ahead;
        steadyLooks = std::max(steadyLooks, settleLooks);
    }
    if (++steadyLooks <= settleLooks) {
        sum += ahead;
        if (steadyLooks == settleLooks) {
            level = sum / static_cast<double>(settleLooks);
            if (!aim) aim = level;
        }
        return;
    }
    level += (ahead - level) * static_cast<double>(kPoll.count()) / kDriftFilterMs;
    const double offMs = (level - *aim) * 1000.0 / format.BytesPerSecond();
    const double beyond = offMs > kDriftBandMs ? offMs - kDriftBandMs : (offMs < -kDriftBandMs ? offMs + kDriftBandMs : 0);
    // In proportion to the distance, a quarter of the filter's rate: the gain at which the
    // filtered loop settles without swinging past. A drift of d leaves the stream about
    // 4 * kDriftFilterMs * d off its first distance (8 ms at 1000 ppm).
    const double ppmWanted = -beyond / (4 * kDriftFilterMs) * 1e6;
    Steer(static_cast<int>(std::lround(std::clamp(ppmWanted, -1.0 * kMostDriftPpm, 1.0 * kMostDriftPpm))), format);
}

void CCaptureAudio::Track::Steer(int to, const platform::AudioFormat& format) {
    if (to == ppm || cannotStretch) return;
    if (!resampler) {
        // Made at the first correction and kept for the stream's life, so that its samples pass
        // through the same filter from then on, the correction 0 or not. Floating point inside:
        // a constant signal stays exactly what it was.
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, format.channels);
        SwrContext* swr = nullptr;
        if (swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, format.sampleRate, &layout, AV_SAMPLE_FMT_S16,
                                format.sampleRate, 0, nullptr) < 0)
            swr_free(&swr);
        av_channel_layout_uninit(&layout);
        resampler.reset(swr);
        if (!resampler || av_opt_set_sample_fmt(swr, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0) < 0 ||
            av_opt_set_int(swr, "flags", SWR_FLAG_RESAMPLE, 0) < 0 || swr_init(swr) < 0) {
            std::fprintf(stderr, "A sound stream on a clock of its own cannot be followed: no resampler\n");
            resampler.reset();
            cannotStretch = true;
            return;
        }
    }
    const int span = format.sampleRate * kDriftSpanSeconds;
    if (swr_set_compensation(resampler.get(), static_cast<int>(std::lround(to * 1e-6 * span)), span) >= 0) ppm = to;
}

// What of `count` bytes at `data` the ring is to hold: the same, or once the stream is followed,
// what the resampler makes of them (`data` then points at it). The servers deliver whole frames.
std::size_t CCaptureAudio::Track::Stretch(const unsigned char*& data, std::size_t count, int frameBytes) {
    if (!resampler) return count;
    const int frames = static_cast<int>(count / static_cast<std::size_t>(frameBytes));
    const int most = std::max(0, swr_get_out_samples(resampler.get(), frames));
    stretched.resize(static_cast<std::size_t>(most) * static_cast<std::size_t>(frameBytes) + 1);  // never empty
    uint8_t* out = stretched.data();
    const uint8_t* in = data;
    const int made = swr_convert(resampler.get(), &out, most, &in, frames);
    data = stretched.data();
    return made > 0 ? static_cast<std::size_t>(made) * static_cast<std::size_t>(frameBytes) : 0;
}

// Takes what every stream has delivered, and learns which of those still owe sound.
bool CCaptureAudio::Collect(std::map<unsigned, Track>& tracks, std::vector<unsigned char>& scratch) {
    bool lost = false;
    for (auto& [key, track] : tracks) track.open = false;
    const long long lateBytes = format_.BytesPerSecond() * kLateMs / 1000;
    for (const auto& stream : sources_->Streams()) {
        Track& track = tracks[stream.key];
        track.open = true;
        if (track.failed) continue;
        long long got = 0;
        for (;;) {
            const long n = stream.input->Read(scratch.data(), scratch.size());
            if (n < 0) {
                // The stream or the server went away: the broadcast goes on without it until the
                // set is opened again, if it has to be.
                std::fprintf(stderr, "The sound capture stopped: %s\n", stream.input->Error().c_str());
                track.failed = true;
                lost = sources_->StreamFailed(stream.key) || lost;
                break;
            }
            if (n == 0) break;
            const unsigned char* data = scratch.data();
            const std::size_t count = track.Stretch(data, static_cast<std::size_t>(n), format_.FrameBytes());
            const std::size_t kept = track.held.Write(data, count);
            if (kept < count) {
                trimmedBytes_ += static_cast<long long>(count - kept);
                ++trims_;
            }
            got += n;
        }
        track.got = got;
        track.quietLooks = got > 0 ? 0 : track.quietLooks + 1;
        track.burst = std::max(track.burst, got);
        track.delivered = track.delivered || got > 0;
        // Until a stream has delivered anything its server's word is not taken: a monitor of an
        // output that plays nothing may claim sound that never comes.
        track.owed = !track.failed && track.delivered ? stream.input->OwedBytes() : 0;
        track.late = track.owed >= lateBytes;
    }
    // A stream that has ended plays out what it left, then goes.
    for (auto it = tracks.begin(); it != tracks.end();) {
        if (!it->second.open) it->second.late = false;
        if (!it->second.open && it->second.held.Available() == 0) it = tracks.erase(it);
        else ++it;
    }
    return lost || sources_->Lost();
}

void CCaptureAudio::Run() {
    const std::size_t block = static_cast<std::size_t>(blockBytes_);
    const long long byteRate = format_.BytesPerSecond();
    const long long frameBytes = std::max(1, format_.FrameBytes());
    const auto bytesOf = [&](long long ms) { return byteRate * ms / 1000 / frameBytes * frameBytes; };
    const long long slack = bytesOf(kSlackMs);
    const long long maxLate = bytesOf(kMaxLateMs);
    const bool sixteenBits = format_.bitsPerSample == 16;
    const long long steadyPart = bytesOf(kSteadyPartMs);
    const long long steadyGapLooks = kSteadyGapMs / kPoll.count();
    std::vector<unsigned char> scratch(std::max<std::size_t>(block, 8192));
    std::vector<unsigned char> mix;
    std::vector<unsigned char> part;
    std::map<unsigned, Track> tracks;
    const auto start = Clock::now();
    long long produced = 0;  // bytes of the mix put into the ring since the start
    unsigned long long wake = 0;

    // Opening the set again, on a thread of its own: an open waits for the server's answers,
    // seconds at worst, while the mix has to go on. The future's end waits for that open.
    std::future<std::pair<std::unique_ptr<platform::IAudioSources>, std::string>> reopening;
    std::string lastError;  // said once, not at every try
    bool broken = false;
    bool reopened = false;  // the set now open came from a reopening
    auto openedAt = start;
    auto retryAt = start;
    auto pause = std::chrono::milliseconds(kReopenFirstMs);

    while (capturing_) {
        std::this_thread::sleep_until(start + kPoll * static_cast<long long>(++wake));
        if (!capturing_) break;
        const long long elapsedUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        const long long expected = elapsedUs * byteRate / 1000000 / frameBytes * frameBytes;
        if (sources_ && Collect(tracks, scratch) && !broken) {
            broken = true;
            const auto now = Clock::now();
            // A set that fails again soon after it came back waits longer each time; one that
            // ran for a while starts again from the shortest pause.
            if (!reopened || now - openedAt > std::chrono::seconds(10))
                pause = std::chrono::milliseconds(kReopenFirstMs);
            else
                pause = std::min(pause * 2, std::chrono::milliseconds(kReopenMostMs));
            retryAt = now + pause;
            std::fprintf(stderr, "Lost %s: it is opened again as soon as it can be\n", Describe(*device_).c_str());
        }
        if (broken && !reopening.valid() && Clock::now() >= retryAt) {
            reopening = std::async(std::launch::async, [opener = opener_, device = *device_, format = format_] {
                std::string error;
                auto sources = opener(device, format, &error);
                return std::make_pair(std::move(sources), std::move(error));
            });
        }

        if (reopening.valid() && reopening.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            auto [sources, error] = reopening.get();
            const auto now = Clock::now();
            if (sources) {
                // The old set's streams go with it, and the mix below, with no stream, closes the
                // gap with silence up to the clock: the new streams start with the slack that a
                // fresh start gives them, rather than at its very end.
                tracks.clear();
                sources_ = std::move(sources);
                broken = false;
                reopened = true;
                openedAt = now;
                lastError.clear();
                std::fprintf(stderr, "Opened %s again\n", Describe(*device_).c_str());
            } else {
                if (!error.empty() && error != lastError)
                    std::fprintf(stderr, "Could not open %s again yet: %s\n", Describe(*device_).c_str(), error.c_str());
                lastError = error;
                pause = std::min(pause * 2, std::chrono::milliseconds(kReopenMostMs));
                retryAt = now + pause;
            }
        }

        // The mix goes as far as every stream has sound for, or may be filled: a silent stream
        // once it is kSlackMs behind the clock, a late one once it is kMaxLateMs behind.
        long long until = expected;
        for (const auto& [key, track] : tracks) {
            const long long has = produced + static_cast<long long>(track.held.Available());
            if (has >= expected) continue;
            until = std::min(until, std::max(has, expected - (track.late ? maxLate : slack)));
        }
        if (until > produced) {
            const auto count = static_cast<std::size_t>(until - produced);
            mix.assign(count, 0);
            bool first = true;
            for (auto& [key, track] : tracks) {
                const std::size_t taken = std::min(count, track.held.Available());
                if (taken < count) {
                    filledBytes_ += static_cast<long long>(count - taken);
                    ++fills_;
                }
                if (first || !sixteenBits) {
                    // Other sample sizes are not mixed: the first stream is the sound.
                    if (first) track.held.Read(mix.data(), taken);
                    else track.held.Skip(taken);
                } else {
                    part.resize(taken);
                    track.held.Read(part.data(), taken);
                    MixInto(reinterpret_cast<int16_t*>(mix.data()), reinterpret_cast<const int16_t*>(part.data()),
                            taken / 2);
                }
                first = false;
            }
            produced += static_cast<long long>(ring_.Write(mix.data(), count));
        }

        // Sound beyond the clock is kept up to what the stream delivers at once; more than that
        // means it runs faster than the clock, and the oldest of the excess goes.
        long long held = 0;
        int lowPpm = 0, highPpm = 0;
        for (auto& [key, track] : tracks) {
            const long long allowed = std::max(track.burst, slack);
            const long long ahead = produced + static_cast<long long>(track.held.Available()) - expected;
            if (ahead > allowed) {
                const long long excess = (ahead - allowed) / frameBytes * frameBytes;
                const auto skipped = static_cast<long long>(track.held.Skip(static_cast<std::size_t>(excess)));
                trimmedBytes_ += skipped;
                if (skipped > 0) {
                    ++trims_;
                    track.trimmed = true;
                }
            }
            if (sixteenBits) {
                const bool steady = track.open && track.delivered && !track.failed && track.owed <= steadyPart &&
                                    track.got <= steadyPart && track.quietLooks <= steadyGapLooks;
                track.Follow(static_cast<double>(ahead), steady, track.trimmed, format_);
            }
            track.trimmed = false;
            lowPpm = std::min(lowPpm, track.ppm);
            highPpm = std::max(highPpm, track.ppm);
            held = std::max(held, static_cast<long long>(track.held.Available()));
        }
        lagBytes_ = expected - produced;
        lowPpm_ = lowPpm;
        highPpm_ = highPpm;
        maxHeldBytes_ = std::max(maxHeldBytes_.load(), held);

        while (capturing_ && ring_.Available() >= block) {
            ring_.Read(scratch.data(), block);
            handler_->OnAudioFrame(scratch.data(), static_cast<int>(block));
        }
    }
}
