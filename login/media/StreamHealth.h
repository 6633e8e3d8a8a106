#pragma once

#include <array>
#include <atomic>
#include <string>

// How the broadcast is doing, for the member: fed by the encoder's writer (what left the
// machine, the queue, what the backlog rule threw away) and by the sender (the start, a
// reopening after a break), read by the window on a timer of its own. Atomics only: the writer
// never waits for a reader.
class StreamHealth {
public:
    // The queue's state over the last few seconds: green it kept up, yellow it grew (the bit
    // rate is being lowered), red pictures were thrown away or seconds were waiting.
    enum class Mark { Green, Yellow, Red };
    static constexpr int kYellowMs = 200;
    static constexpr int kRedMs = 1000;
    static constexpr long long kMarkHoldMs = 5000;
    static constexpr long long kRateWindowMs = 2000;

    struct Figures {
        bool live = false;
        bool reconnecting = false;
        long long onAirSeconds = 0;
        long kbitPerSecond = 0;  // over the last kRateWindowMs (0 before then)
        long long framesSent = 0;
        long long framesDropped = 0;
        long targetKbitPerSecond = 0;  // the video bit rate being encoded at
        Mark mark = Mark::Green;
    };

    // The sender's side.
    void Begin(long long nowMs);
    void End() { live_ = false; }
    void SetReconnecting(bool on) { reconnecting_ = on; }

    // The writer's side: bytes that went out (and whether they finished a picture), pictures the
    // backlog rule threw away, and a look at the queue about every tenth of a second.
    void Sent(long long bytes, bool picture);
    void Dropped(long long pictures, long long nowMs);
    void Sample(long long nowMs, int queuedMs, long targetBitsPerSecond);

    // Bits per second that left over the last `windowMs` as far as the samples reach back that
    // far; -1 when they do not yet. Given `nowMs`, the time since the newest sample counts too:
    // a writer held up in a send takes no samples, and its silence is part of the rate.
    long BitsPerSecond(long long windowMs, long long nowMs = -1) const;

    Figures Read(long long nowMs) const;
    // The line the window and the tray show.
    static std::string Text(const Figures& figures);

private:
    static constexpr unsigned kSlots = 64;
    struct Slot {
        std::atomic<long long> ms{0};
        std::atomic<long long> bytes{0};
    };

    std::atomic<bool> live_{false};
    std::atomic<bool> reconnecting_{false};
    std::atomic<long long> startMs_{0};
    std::atomic<long long> bytes_{0};
    std::atomic<long long> framesSent_{0};
    std::atomic<long long> framesDropped_{0};
    std::atomic<long> target_{0};
    std::atomic<long long> yellowMs_{-1};  // when the queue last grew
    std::atomic<long long> redMs_{-1};     // when pictures were last lost to it
    std::array<Slot, kSlots> slots_{};
    std::atomic<unsigned> samples_{0};
};
