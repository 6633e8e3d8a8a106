#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AudioInput.h"
#include "CAdoFrameHandler.h"

// Records one sound source and delivers it, on a thread of its own, in blocks of exactly
// BlockBytes() bytes to a CAdoFrameHandler. The stream is continuous at the nominal rate: what
// the sound server does not deliver (a monitor while nothing plays, a suspended source) is
// filled with silence by the clock, and what it delivers in excess of the clock is dropped.
//
// Calling order: SetFormat → Open (or OpenSilence) → SetBlockBytes → Start … Stop, and again.
class CCaptureAudio {
public:
    using InputFactory =
        std::function<std::unique_ptr<platform::IAudioInput>(const std::string& source, const platform::AudioFormat&)>;

    static constexpr std::size_t kRingBytes = 1u << 20;

    CCaptureAudio();  // captures from PulseAudio
    explicit CCaptureAudio(InputFactory factory);
    ~CCaptureAudio();
    CCaptureAudio(const CCaptureAudio&) = delete;
    CCaptureAudio& operator=(const CCaptureAudio&) = delete;

    void SetFormat(int sampleRate, int bitsPerSample, int channels);

    // Opens `device`: an empty name is the default source, no value is the "none" entry and
    // fails at once. False when the source cannot be opened.
    bool Open(const std::optional<std::string>& device);
    // Opens no device at all: Start then delivers silence, one block per block period.
    bool OpenSilence();

    void SetBlockBytes(int bytes) { blockBytes_ = bytes; }
    int BlockBytes() const { return blockBytes_; }

    // Starts the capture thread. False (and no thread) without an open source, a block size or
    // a valid format.
    bool Start(CAdoFrameHandler* handler);

    // Stops the thread (waiting for it) and closes the source. A second Stop does nothing.
    void Stop();

    bool Capturing() const { return capturing_.load(); }
    bool Silent() const { return silent_; }

    // The 1 MiB byte ring between the source and the block delivery: free-running counters,
    // positions masked by the size; writes and reads move as much as fits or is there.
    class Ring {
    public:
        Ring();
        std::size_t Write(const unsigned char* data, std::size_t count);
        std::size_t WriteSilence(std::size_t count);
        std::size_t Read(unsigned char* out, std::size_t count);
        std::size_t Available() const { return static_cast<std::size_t>(in_ - out_); }
        std::size_t Free() const { return kRingBytes - Available(); }
        void Reset() { in_ = out_ = 0; }

    private:
        std::unique_ptr<unsigned char[]> bytes_;
        unsigned long long in_ = 0;
        unsigned long long out_ = 0;
    };

private:
    void Run();

    InputFactory factory_;
    std::atomic<bool> capturing_{false};
    int blockBytes_ = 0;
    platform::AudioFormat format_;
    std::unique_ptr<platform::IAudioInput> input_;
    bool silent_ = false;
    bool stopped_ = true;
    CAdoFrameHandler* handler_ = nullptr;
    std::thread thread_;
    Ring ring_;
};
