#pragma once

// Decides the video bit rate from what the stream's writer sees, so that a link slower than the
// member's choice is met by a lower rate before the backlog has to be thrown away. A queue that
// grows (kCongestedMs or more of stream waiting) brings the rate down to what was measured
// leaving the machine; a queue that stays short brings it back up towards the choice, a tenth of
// the choice at a time. The member's setting itself never changes.
class BitRateAdaptation {
public:
    static constexpr int kCongestedMs = 200;
    // Below this much waiting the link keeps up.
    static constexpr int kShortMs = 100;
    // The throughput is measured over kMeasureMs: a congested connection takes data in bursts
    // (the kernel wakes a blocked sender once half its buffer is free), and a shorter look sees
    // a burst's silence as the link's rate. Decisions down are kDecideMs apart; the queue has to
    // stay short for kClimbEveryMs before each step back up.
    static constexpr long long kMeasureMs = 2000;
    static constexpr long long kDecideMs = 1000;
    static constexpr long long kClimbEveryMs = 2000;
    // What is left of the measured rate for the picture: the rest drains the queue.
    static constexpr double kDrainShare = 0.85;
    // Grown by this much since the last decision, the queue is still growing.
    static constexpr int kGrowingMs = 100;

    // `chosenVideo`: the picture's share of the member's bit rate; `audio`: the sound's, which
    // the measured rate also carries.
    BitRateAdaptation(long chosenVideo, long audio);

    // One look at the writer's figures: `nowMs` on a steady clock, `queuedMs` of stream waiting
    // to be sent, `sentBitsPerSecond` what left over the last second or two (negative when not
    // measured long enough yet). Answers the video bit rate to encode at.
    long Update(long long nowMs, int queuedMs, long sentBitsPerSecond);
    // The backlog rule threw the queue away: the link is slower than the rate, whatever was
    // measured.
    void Discarded(long long nowMs, long sentBitsPerSecond);

    long Target() const { return target_; }
    long Chosen() const { return chosen_; }
    long Floor() const { return floor_; }

private:
    void Lower(long long nowMs, long sentBitsPerSecond, bool growing);

    long chosen_;
    long audio_;
    long floor_;
    long target_;
    long long lastChangeMs_ = -1;
    long long shortSinceMs_ = -1;  // the queue has been short since then (-1: it is not)
    // The last decision down of this congestion, and the queue then (-1: none yet).
    long long decidedAtMs_ = -1;
    int decidedQueuedMs_ = 0;
};
