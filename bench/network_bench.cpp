// The broadcast through a slow link, with and without the bit rate that follows the network,
// side by side in one run: the member's default stream (500 kbit/s, 10 pictures a second) of
// pictures that use the whole rate, published to a local nginx-rtmp through the fault
// relay of the tests, in a network namespace of this process's own (so it needs root).
//   build/bench/network_bench [--limited-seconds 60]
// Two links, each run with the adaptation on and off:
//   half:    half the stream's rate for --limited-seconds, then unlimited again;
//   quarter: a quarter of the rate for 10 s, then unlimited for 10 s, three times.
// Each with two pictures: grain over a moving gradient (a game's picture, which an encoder can
// smooth to fit a lower rate) and fresh noise (which needs about 220 kbit/s at any quality).
// Per row: packets the backlog rule threw away and the pictures among them, the longest time
// without pictures for a viewer (the longest pause in what reached nginx, or the pictures of
// one discard, whichever is longer), the lowest bit rate the encoder used, and how long after
// the link's last recovery the rate was the member's choice again.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CSendDataStream.h"
#include "FakePlatform.h"
#include "FaultRelay.h"
#include "LinkUnderTest.h"
#include "NginxRtmpServer.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace testsupport;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Phase {
    long rate;  // bits/s, 0 unlimited
    Clock::duration length;
};

struct Row {
    std::string link;
    bool adaptive = false;
    unsigned long long discarded = 0;
    long long droppedPictures = 0;
    double longestGap = 0;
    long lowest = 0;
    double climb = -1;  // s; -1 not back within the wait
    bool ended = false;
};

Row Run(const std::string& link, const std::vector<Phase>& phases, bool adaptive, bool noise) {
    Row row{link, adaptive};
    NginxRtmpServer nginx;
    if (!nginx.Start()) {
        std::fprintf(stderr, "nginx: %s\n", nginx.ErrorLog().c_str());
        std::exit(1);
    }
    FaultRelay relay("127.0.0.1", nginx.RtmpPort());
    if (!relay.Start()) {
        std::fprintf(stderr, "relay: %s\n", relay.Error().c_str());
        std::exit(1);
    }
    CStreamSettings s = DefaultStream("rtmp://127.0.0.1:" + std::to_string(relay.Port()) + "/live/bench");
    s.adaptiveBitRate = adaptive;
    const long chosen = s.bitRate - CStreamEncoder::kAudioBitRate;
    row.lowest = chosen;
    std::shared_ptr<platform::IGameCapture> capture;
    if (noise) capture = std::make_shared<NoiseCapture>();
    else capture = std::make_shared<GrainCapture>();
    RecordingOwner owner;
    auto sender = std::make_unique<CSendDataStream>(&owner, &s, capture, NoDeviceAudio());
    if (sender->Start(capture, "game") != 1) {
        std::fprintf(stderr, "the broadcast did not start\n");
        std::exit(1);
    }

    ArrivalWatch arrivals(relay);
    long long droppedPictures = 0;
    const auto watch = [&](Clock::time_point until, const std::function<bool()>& done) {
        while (Clock::now() < until && owner.Reasons().empty()) {
            std::this_thread::sleep_for(10ms);
            arrivals.Look();
            row.longestGap = std::max(row.longestGap, std::chrono::duration<double>(arrivals.Longest()).count());
            // One discard: the pictures it threw away, a tenth of a second each.
            const long long dropped = sender->Health().Read(0).framesDropped;
            if (dropped > droppedPictures)
                row.longestGap = std::max(row.longestGap, static_cast<double>(dropped - droppedPictures) / 10.0);
            droppedPictures = dropped;
            row.lowest = std::min(row.lowest, sender->Encoder().VideoBitRate());
            if (done && done()) return true;
        }
        return false;
    };
    watch(Clock::now() + 3s, nullptr);
    for (const Phase& p : phases) {
        relay.SetRate(p.rate);
        watch(Clock::now() + p.length, nullptr);
    }
    relay.SetRate(0);
    const auto recovered = Clock::now();
    if (watch(recovered + 60s, [&] { return sender->Encoder().VideoBitRate() == chosen; }))
        row.climb = std::chrono::duration<double>(Clock::now() - recovered).count();
    row.discarded = sender->Encoder().DiscardedPackets();
    row.droppedPictures = droppedPictures;
    row.ended = !owner.Reasons().empty();
    sender.reset();
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    int limitedSeconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--limited-seconds") == 0 && i + 1 < argc) limitedSeconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--limited-seconds N]\n", argv[0]);
            return 2;
        }
    }
    if (const std::string problem = EnterPrivateNetwork(); !problem.empty()) {
        std::fprintf(stderr, "needs a network namespace (root): %s\n", problem.c_str());
        return 1;
    }
    av_log_set_level(AV_LOG_QUIET);
    const long rate = 500000;
    const std::vector<Phase> half = {{rate / 2, std::chrono::seconds(limitedSeconds)}};
    std::vector<Phase> quarter;
    for (int i = 0; i < 3; ++i) {
        quarter.push_back({rate / 4, 10s});
        if (i < 2) quarter.push_back({0, 10s});
    }
    std::vector<Row> rows;
    for (const bool noise : {false, true}) {
        const std::string picture = noise ? "noise, " : "grain, ";
        for (const bool adaptive : {true, false}) {
            rows.push_back(Run(picture + "half " + std::to_string(limitedSeconds) + " s", half, adaptive, noise));
            rows.push_back(Run(picture + "quarter 10 s x3", quarter, adaptive, noise));
        }
    }
    std::printf("%-24s %-8s %10s %9s %16s %14s %10s\n", "link", "rate", "discarded", "pictures", "longest gap (s)",
                "lowest kbit/s", "climb (s)");
    for (const Row& r : rows) {
        char climb[32];
        if (r.climb >= 0) std::snprintf(climb, sizeof climb, "%.1f", r.climb);
        else std::snprintf(climb, sizeof climb, "%s", r.adaptive ? "not in 60" : "-");
        std::printf("%-24s %-8s %10llu %9lld %16.1f %14ld %10s%s\n", r.link.c_str(), r.adaptive ? "adapts" : "fixed",
                    r.discarded, r.droppedPictures, r.longestGap, (r.lowest + 500) / 1000, climb,
                    r.ended ? "  (the broadcast ended)" : "");
    }
    return 0;
}
