#pragma once

// What the network-fault tests and the network bench share: a network namespace of their own
// for the broadcast's connections, the member's default stream, games whose pictures use the
// whole bit rate, and a watch on what reaches the server through the fault relay.

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "CStreamSettings.h"
#include "FaultRelay.h"
#include "GameCapture.h"

namespace testsupport {

// The tests run in a network namespace of their own: its loopback carries the broadcast, and
// its TCP settings are the test's to choose. A sender's kernel grows the send buffer of a
// connection held back only by the receiver's window up to tcp_wmem's maximum (4 MiB by
// default: over a minute of this stream), which no real uplink would hold before losses shrink
// the congestion window; a 64 KiB maximum keeps the buffering between the broadcaster and the
// slow link at a few seconds, as on a real one. Entered from the calling thread before any
// other starts; empty on success, else why not.
inline std::string EnterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lo{};
    std::strncpy(lo.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP) &&
                    ::ioctl(fd, SIOCSIFFLAGS, &lo) == 0;
    if (fd >= 0) ::close(fd);
    if (!up) return "cannot bring the namespace's loopback up";
    std::ofstream("/proc/sys/net/ipv4/tcp_wmem") << "4096 16384 65536\n";
    std::ifstream check("/proc/sys/net/ipv4/tcp_wmem");
    long low = 0, initial = 0, maximum = 0;
    check >> low >> initial >> maximum;
    if (maximum != 65536) return "cannot set tcp_wmem in the namespace";
    return {};
}

// A game of 320 x 240 that is always shown and draws every picture anew, row by row.
class SyntheticCapture : public platform::IGameCapture {
public:
    State Look(platform::PictureSize* size) override {
        *size = {320, 240};
        return State::Shown;
    }
    bool PointerAt(int*, int*) override { return false; }
    void BringToFront() override {}
    Result Capture(int width, int rows, platform::Picture* picture) override {
        const int stride = width * 4;
        pixels_.resize(static_cast<std::size_t>(stride) * rows);
        ++frame_;
        for (int y = 0; y < rows; ++y) DrawRow(pixels_.data() + static_cast<long>(y) * stride, width, y);
        *picture = {pixels_.data(), width, rows, stride, platform::PixelLayout::Bgrx};
        return Result::Fresh;
    }

protected:
    virtual void DrawRow(unsigned char* row, int width, int y) = 0;
    // xorshift64: the same pictures in every run.
    uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    int frame_ = 0;

private:
    uint64_t state_ = 0x9e3779b97f4a7c15ull;
    std::vector<unsigned char> pixels_;
};

// Pictures of fresh noise: the hardest thing to compress, so the stream uses its whole bit rate.
class NoiseCapture : public SyntheticCapture {
protected:
    void DrawRow(unsigned char* row, int width, int) override {
        for (int x = 0; x + 8 <= width * 4; x += 8) {
            const uint64_t bits = Next();
            std::memcpy(row + x, &bits, 8);
        }
    }
};

// A picture more like a game's: a gradient that moves, with grain over it. At the member's rate
// the grain takes all the bits there are; at a lower rate the encoder smooths it away, so, unlike
// noise, the pictures fit a slower link.
class GrainCapture : public SyntheticCapture {
protected:
    void DrawRow(unsigned char* row, int width, int y) override {
        for (int x = 0; x < width; ++x) {
            const int grain = static_cast<int>(Next() & 31) - 16;
            const int base = (x + y + frame_ * 3) & 0xff;
            for (int c = 0; c < 3; ++c) row[x * 4 + c] = static_cast<unsigned char>((base + c * 60) % 200 + 28 + grain);
            row[x * 4 + 3] = 0xff;
        }
    }
};

// The member's defaults: 500 kbit/s, 10 pictures a second, level 0; no sound device.
inline CStreamSettings DefaultStream(const std::string& url) {
    CStreamSettings s;
    s.sourceWidth = s.width = 320;
    s.sourceHeight = s.height = 240;
    s.frameRate = 10;
    s.quality = 0;
    s.bitRate = 500000;
    s.audioEnabled = 0;
    s.url = url;
    return s;
}

// The longest time in which nothing went through the relay to the server, over the looks taken.
class ArrivalWatch {
public:
    using Clock = std::chrono::steady_clock;
    explicit ArrivalWatch(const FaultRelay& relay) : relay_(relay), bytes_(relay.BytesToServer()) {}
    void Look() {
        const auto now = Clock::now();
        if (relay_.BytesToServer() != bytes_) {
            bytes_ = relay_.BytesToServer();
            last_ = now;
        }
        longest_ = std::max(longest_, now - last_);
    }
    Clock::duration Longest() const { return longest_; }

private:
    const FaultRelay& relay_;
    long long bytes_;
    Clock::time_point last_ = Clock::now();
    Clock::duration longest_{};
};

}  // namespace testsupport
