#include "StreamHealth.h"

#include <algorithm>
#include <cstdio>

void StreamHealth::Begin(long long nowMs) {
    samples_ = 0;
    bytes_ = 0;
    framesSent_ = 0;
    framesDropped_ = 0;
    yellowMs_ = -1;
    redMs_ = -1;
    reconnecting_ = false;
    startMs_ = nowMs;
    live_ = true;
}

void StreamHealth::Sent(long long bytes, bool picture) {
    bytes_ += bytes;
    if (picture) ++framesSent_;
}

void StreamHealth::Dropped(long long pictures, long long nowMs) {
    framesDropped_ += pictures;
    redMs_ = nowMs;
}

void StreamHealth::Sample(long long nowMs, int queuedMs, long targetBitsPerSecond) {
    target_ = targetBitsPerSecond;
    if (queuedMs >= kRedMs) redMs_ = nowMs;
    if (queuedMs >= kYellowMs) yellowMs_ = nowMs;
    // The slot is complete before the count shows it to a reader.
    const unsigned n = samples_.load();
    Slot& slot = slots_[n % kSlots];
    slot.ms = nowMs;
    slot.bytes = bytes_.load();
    samples_ = n + 1;
}

long StreamHealth::BitsPerSecond(long long windowMs, long long nowMs) const {
    const unsigned n = samples_.load();
    if (n < 2) return -1;
    const Slot& newest = slots_[(n - 1) % kSlots];
    const long long newestMs = std::max(newest.ms.load(), nowMs);
    const long long newestBytes = newest.bytes.load();
    // Back to the first sample at least windowMs old; the writer is far from lapping the ring.
    const unsigned reach = n < kSlots / 2 ? n : kSlots / 2;
    for (unsigned back = 1; back < reach; ++back) {
        const Slot& old = slots_[(n - 1 - back) % kSlots];
        const long long span = newestMs - old.ms.load();
        if (span >= windowMs && span > 0) return static_cast<long>((newestBytes - old.bytes.load()) * 8000 / span);
    }
    return -1;
}

StreamHealth::Figures StreamHealth::Read(long long nowMs) const {
    Figures f;
    f.live = live_.load();
    f.reconnecting = reconnecting_.load();
    f.onAirSeconds = f.live && nowMs > startMs_.load() ? (nowMs - startMs_.load()) / 1000 : 0;
    const long rate = BitsPerSecond(kRateWindowMs, nowMs);
    f.kbitPerSecond = rate > 0 ? (rate + 500) / 1000 : 0;
    f.framesSent = framesSent_.load();
    f.framesDropped = framesDropped_.load();
    f.targetKbitPerSecond = (target_.load() + 500) / 1000;
    const auto recent = [&](long long at) { return at >= 0 && nowMs - at < kMarkHoldMs; };
    f.mark = recent(redMs_.load()) ? Mark::Red : recent(yellowMs_.load()) ? Mark::Yellow : Mark::Green;
    return f;
}

std::string StreamHealth::Text(const Figures& f) {
    char line[200];
    const long long s = f.onAirSeconds;
    const long long all = f.framesSent + f.framesDropped;
    const double share = all > 0 ? 100.0 * static_cast<double>(f.framesDropped) / static_cast<double>(all) : 0.0;
    if (f.reconnecting) {
        std::snprintf(line, sizeof line, "正在重新连接… %lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(line, sizeof line, "%lld:%02lld:%02lld  %ld kbit/s  发送 %lld 帧  丢弃 %lld 帧 (%.1f%%)", s / 3600,
                      s / 60 % 60, s % 60, f.kbitPerSecond, f.framesSent, f.framesDropped, share);
    }
    return line;
}
