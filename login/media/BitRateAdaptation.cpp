#include "BitRateAdaptation.h"

#include <algorithm>

BitRateAdaptation::BitRateAdaptation(long chosenVideo, long audio)
    : chosen_(std::max(1L, chosenVideo)),
      audio_(std::max(0L, audio)),
      // A picture at a tenth of the choice still moves; below that a viewer sees only blocks.
      floor_(std::max(1L, chosen_ / 10)),
      target_(chosen_) {}

void BitRateAdaptation::Lower(long long nowMs, long sentBitsPerSecond, bool growing) {
    const long video = static_cast<long>(static_cast<double>(sentBitsPerSecond - audio_) * kDrainShare);
    // At most halved at once: one measurement may still be off, and the next decision is only
    // a second away. A queue that still grows since the last decision is met by halving, since
    // the measurement looks back over seconds when the link was faster.
    const long half = std::max(floor_, target_ / 2);
    const long lowered = growing ? half : std::clamp(video, half, chosen_);
    if (lowered < target_) target_ = lowered;
    lastChangeMs_ = nowMs;
    shortSinceMs_ = -1;
}

long BitRateAdaptation::Update(long long nowMs, int queuedMs, long sentBitsPerSecond) {
    if (lastChangeMs_ < 0) lastChangeMs_ = nowMs;
    if (queuedMs >= kCongestedMs) {
        shortSinceMs_ = -1;
        // Once per measuring period, and only on a measurement that covers one: right after a
        // change the queue still holds what was encoded at the old rate.
        if (sentBitsPerSecond >= 0 && nowMs - lastChangeMs_ >= kDecideMs) {
            Lower(nowMs, sentBitsPerSecond, decidedAtMs_ >= 0 && queuedMs >= decidedQueuedMs_ + kGrowingMs);
            decidedQueuedMs_ = queuedMs;
            decidedAtMs_ = nowMs;
        }
        return target_;
    }
    decidedAtMs_ = -1;
    if (queuedMs >= kShortMs) {
        shortSinceMs_ = -1;
        return target_;
    }
    if (shortSinceMs_ < 0) shortSinceMs_ = nowMs;
    if (target_ < chosen_ && nowMs - shortSinceMs_ >= kClimbEveryMs && nowMs - lastChangeMs_ >= kClimbEveryMs) {
        target_ = std::min(chosen_, target_ + std::max(1L, chosen_ / 10));
        lastChangeMs_ = nowMs;
        shortSinceMs_ = nowMs;
    }
    return target_;
}

void BitRateAdaptation::Discarded(long long nowMs, long sentBitsPerSecond) {
    // Whatever was measured, the link carries less than the rate: at least halved.
    Lower(nowMs, sentBitsPerSecond >= 0 ? sentBitsPerSecond : 0, false);
}
