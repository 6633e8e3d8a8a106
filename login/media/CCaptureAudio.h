#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AudioInput.h"
#include "CAdoFrameHandler.h"

// Records the streams of one choice of the audio source list, mixes them, and delivers the mix,
// on a thread of its own, in blocks of exactly BlockBytes() bytes to a CAdoFrameHandler.
//
// The mix is continuous at the nominal rate, each stream timed by the clock. A stream that the
// server says is on its way (a source that delivers in large blocks) is waited for, up to
// kMaxLateMs; one that is silent (a monitor while nothing plays, a suspended source, a stream
// that has delivered nothing yet) is filled with silence once kSlackMs behind. What a stream delivers ahead of the clock is kept, as long
// as it is no more than the largest delivery it made at once (or kSlackMs): a stream that keeps
// delivering more than the clock (another clock than ours) loses only that excess.
//
// Those two rules are the last resort. A device on a clock of its own (a USB microphone runs
// some hundred ppm off ours) would meet them every few minutes, each time a click: a stream that
// delivers steadily, in small parts and never late, is resampled by as much as it runs off the
// clock, found slowly from how far it keeps ahead or behind, and by no more than kMostDriftPpm,
// so that a glitch cannot be heard as a change of pitch.
//
// A set of streams that fails (the sound server went away, a source chosen by name was
// unplugged, the game's connection was lost) is opened again on a thread of its own, after a
// pause that grows while it cannot be; meanwhile the mix goes on by the clock, filling the gap
// with silence, and streams of the set that still work are still heard.
//
// Calling order: SetFormat → Open (or OpenSilence) → SetBlockBytes → Start … Stop, and again.
class CCaptureAudio {
public:
    // Opens one named source (an empty name: the default one); such a capture offers only the
    // list's plain sources.
    using InputFactory =
        std::function<std::unique_ptr<platform::IAudioInput>(const std::string& source, const platform::AudioFormat&)>;
    using SourcesFactory = std::function<std::unique_ptr<platform::IAudioSources>(
        const platform::AudioSourceChoice& choice, const platform::AudioFormat&)>;

    static constexpr std::size_t kRingBytes = 1u << 20;
    static constexpr long long kSlackMs = 200;
    static constexpr long long kMaxLateMs = 2500;
    // A set of streams that failed is opened again after this pause, doubled after each try
    // that fails, up to kReopenMostMs: a server back from a restart is heard again soon.
    static constexpr long long kReopenFirstMs = 250;
    static constexpr long long kReopenMostMs = 2000;
    // The most a steady stream is sped up or slowed down to follow the clock.
    static constexpr int kMostDriftPpm = 5000;

    CCaptureAudio();  // captures from the sound server
    explicit CCaptureAudio(InputFactory factory);
    explicit CCaptureAudio(SourcesFactory factory);
    ~CCaptureAudio();
    CCaptureAudio(const CCaptureAudio&) = delete;
    CCaptureAudio& operator=(const CCaptureAudio&) = delete;

    void SetFormat(int sampleRate, int bitsPerSample, int channels);

    // Opens `device`: no value is the "none" entry and fails at once. False when its sources
    // cannot be opened.
    bool Open(const std::optional<platform::AudioSourceChoice>& device);
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

    // How the mix keeps time, for the benchmarks: how far the delivered sound is behind the
    // clock now, the most sound any stream has held at once, what was filled and trimmed (and
    // how many times), and the lowest and highest correction of a stream's rate now (above 0 a
    // stream is stretched, as a slow one is).
    struct Figures {
        long long lagBytes = 0;
        long long maxHeldBytes = 0;
        long long filledBytes = 0;
        long long trimmedBytes = 0;
        long long fills = 0;
        long long trims = 0;
        int lowPpm = 0;
        int highPpm = 0;
    };
    Figures MixFigures() const;

    // The 1 MiB byte ring between the source and the block delivery: free-running counters,
    // positions masked by the size; writes and reads move as much as fits or is there.
    class Ring {
    public:
        Ring();
        std::size_t Write(const unsigned char* data, std::size_t count);
        std::size_t WriteSilence(std::size_t count);
        std::size_t Read(unsigned char* out, std::size_t count);
        std::size_t Skip(std::size_t count);
        std::size_t Available() const { return static_cast<std::size_t>(in_ - out_); }
        std::size_t Free() const { return kRingBytes - Available(); }
        void Reset() { in_ = out_ = 0; }

    private:
        std::unique_ptr<unsigned char[]> bytes_;
        unsigned long long in_ = 0;
        unsigned long long out_ = 0;
    };

    // Sums `count` 16-bit samples of `in` into `out`, held at the limits of the range.
    static void MixInto(int16_t* out, const int16_t* in, std::size_t count);

private:
    struct Track;
    // Opens a choice's streams; `error` says why not where the opener can tell.
    using Opener = std::function<std::unique_ptr<platform::IAudioSources>(
        const platform::AudioSourceChoice& choice, const platform::AudioFormat&, std::string* error)>;
    explicit CCaptureAudio(Opener opener);

    void Run();
    // True when the set has to be opened anew.
    bool Collect(std::map<unsigned, Track>& tracks, std::vector<unsigned char>& scratch);

    Opener opener_;
    std::optional<platform::AudioSourceChoice> device_;  // what is open
    std::atomic<bool> capturing_{false};
    int blockBytes_ = 0;
    platform::AudioFormat format_;
    std::unique_ptr<platform::IAudioSources> sources_;
    bool silent_ = false;
    bool stopped_ = true;
    CAdoFrameHandler* handler_ = nullptr;
    std::thread thread_;
    Ring ring_;
    std::atomic<long long> lagBytes_{0};
    std::atomic<long long> maxHeldBytes_{0};
    std::atomic<long long> filledBytes_{0};
    std::atomic<long long> trimmedBytes_{0};
    std::atomic<long long> fills_{0};
    std::atomic<long long> trims_{0};
    std::atomic<int> lowPpm_{0};
    std::atomic<int> highPpm_{0};
};
