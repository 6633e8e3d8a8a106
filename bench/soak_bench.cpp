// A long broadcast, watched for leaks and for the sound's timing: the real pipeline (X11 capture
// of the sample game; the microphone mixed with the computer's sound, while a voice speaks into
// the microphone and a tone plays into the default output; H.264/AAC to a local nginx-rtmp) runs
// for a fixed time, and every 30 s this process's resident memory, open file descriptors and
// threads are printed, with how far the mixed sound is behind the clock and the most any of its
// sources held: neither may grow. Growth is counted from the end of the first minute, when the
// encoder, the sound server connections and the X11 shared memory are set up.
//   tests/fixtures/with-xvfb.sh tests/fixtures/with-pulse.sh build/bench/soak_bench [--minutes 30]
// (or tests/fixtures/with-pipewire.sh in place of with-pulse.sh)

#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CSendDataStream.h"
#include "GameCaptureX11.h"
#include "ChildProcess.h"
#include "ILiveOwner.h"
#include "NginxRtmpServer.h"
#include "SinePlayer.h"
#include "WindowListX11.h"
#include "XDisplay.h"

extern "C" {
#include <libavutil/log.h>
}

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Usage {
    long rssKiB = 0;
    long heapKiB = 0;  // allocated from malloc: tells heap growth from other mappings
    int fds = 0;
    int threads = 0;
};

Usage SelfUsage() {
    Usage u;
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") status >> u.rssKiB;
        else if (key == "Threads:") status >> u.threads;
        std::string rest;
        std::getline(status, rest);
    }
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++u.fds;
    --u.fds;  // the directory iterator's own descriptor
    u.heapKiB = static_cast<long>(mallinfo2().uordblks / 1024);
    return u;
}

double LoadAverage() {
    double one = 0;
    std::ifstream("/proc/loadavg") >> one;
    return one;
}

using Child = testsupport::ChildProcess;

class Owner : public ILiveOwner {
public:
    void PostLiveStop(int reason) override { ended = reason; }
    void PostGameWindowLost() override { ended = 0; }
    std::atomic<int> ended{-1};
};

}  // namespace

int main(int argc, char** argv) {
    int minutes = 30;
    int intervalSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--minutes" && i + 1 < argc) minutes = std::atoi(argv[++i]);
        else if (arg == "--interval" && i + 1 < argc) intervalSeconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: soak_bench [--minutes N] [--interval SECONDS]\n");
            return 2;
        }
    }
    if (minutes < 2 || minutes > 240 || intervalSeconds < 1) {
        std::fprintf(stderr, "soak_bench: 2 to 240 minutes, an interval of at least 1 s\n");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr || std::getenv("PULSE_SERVER") == nullptr) {
        std::fprintf(stderr, "soak_bench needs a display and a sound server: run it under "
                             "tests/fixtures/with-xvfb.sh tests/fixtures/with-pulse.sh (or with-pipewire.sh)\n");
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    testsupport::NginxRtmpServer server(false);
    if (!server.Start()) {
        std::fprintf(stderr, "nginx did not start:\n%s\n", server.ErrorLog().c_str());
        return 1;
    }

    const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
    const std::string game = (exe.parent_path().parent_path() / "installation" / "strimo-sample-game").string();
    Child sampleGame({game, "1280", "720"});
    // A tone into the null sink, for as long as the broadcast lasts (and a little more).
    testsupport::TestMicrophone microphone;
    if (!microphone.Ready()) {
        std::fprintf(stderr, "the test microphone could not be made\n");
        return 1;
    }
    Child tone({"ffmpeg", "-v", "error", "-nostdin", "-re", "-f", "lavfi", "-i", "sine=frequency=880:sample_rate=22050",
                "-t", std::to_string(minutes * 60 + 60), "-f", "pulse", "-device", "s1", "soak tone"});
    Child voice({"ffmpeg", "-v", "error", "-nostdin", "-re", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050",
                 "-t", std::to_string(minutes * 60 + 60), "-f", "pulse", "-device", "micsink", "soak voice"});

    const x11::DisplayPtr display = x11::OpenDisplay();
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    unsigned long window = 0;
    const auto waitUntil = Clock::now() + std::chrono::seconds(30);
    while (window == 0 && Clock::now() < waitUntil && sampleGame.Running()) {
        const auto windows = x11::WindowListX11(display.get()).VisibleWindowsOf(sampleGame.Pid(), 1);
        if (!windows.empty()) window = windows.front();
        else std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (window == 0) {
        std::fprintf(stderr, "the sample game's window did not appear\n");
        return 1;
    }

    CStreamSettings s;
    s.sourceWidth = s.width = 1280;
    s.sourceHeight = s.height = 720;
    s.frameRate = 15;
    s.quality = 1;
    s.audioDevice = platform::AudioSourceChoice::MicrophoneAndComputer();
    s.audioEnabled = 1;
    s.bitRate = 500000;
    s.url = server.Url("soak");

    Owner owner;
    std::shared_ptr<platform::IGameCapture> capture = x11::GameCaptureX11::Create(window);
    CSendDataStream sender(&owner, &s, capture);
    if (sender.Start(capture, "strimo-sample-game") != 1) {
        std::fprintf(stderr, "the broadcast did not start\n");
        return 1;
    }
    std::printf("soak: 1280x720, level 1, 15 frames/s, 500 kbit/s, sound: the microphone with the computer's sound, "
                "%d min\n", minutes);
    std::printf("%7s %10s %9s %5s %8s %9s %9s %8s %7s %6s %7s %7s %8s\n", "time s", "rss KiB", "heap KiB", "fds",
                "threads", "frames", "expected", "discards", "reopens", "load", "lag ms", "held ms", "trim ms");
    std::fflush(stdout);

    const auto start = Clock::now();
    Usage atMinute{};
    Usage last{};
    long maxRssAfterMinute = 0;
    long minRssAfterMinute = 0;
    double maxLagMs = 0;
    CCaptureAudio::Figures lastMix;
    const int samples = minutes * 60 / intervalSeconds;
    for (int n = 0; n <= samples && owner.ended < 0; ++n) {
        std::this_thread::sleep_until(start + std::chrono::seconds(intervalSeconds) * n);
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        last = SelfUsage();
        if (t >= 60 && atMinute.rssKiB == 0) {
            atMinute = last;
            maxRssAfterMinute = minRssAfterMinute = last.rssKiB;
        }
        if (atMinute.rssKiB != 0) {
            maxRssAfterMinute = std::max(maxRssAfterMinute, last.rssKiB);
            minRssAfterMinute = std::min(minRssAfterMinute, last.rssKiB);
        }
        const auto mix = sender.AudioCapture().MixFigures();
        const double msPerByte = 1000.0 / (s.sampleRate * 2);
        if (atMinute.rssKiB != 0) maxLagMs = std::max(maxLagMs, mix.lagBytes * msPerByte);
        lastMix = mix;
        std::printf("%7.0f %10ld %9ld %5d %8d %9lld %9.0f %8llu %7d %6.2f %7.0f %7.0f %8.0f\n", t, last.rssKiB,
                    last.heapKiB, last.fds, last.threads, sender.Encoder().VideoFramesEncoded(), t * 15,
                    sender.Encoder().DiscardedPackets(), sender.Reopens(), LoadAverage(), mix.lagBytes * msPerByte,
                    mix.maxHeldBytes * msPerByte, mix.trimmedBytes * msPerByte);
        std::fflush(stdout);
    }
    if (owner.ended >= 0) std::printf("the broadcast ended early (reason %d)\n", owner.ended.load());
    const long growth = last.rssKiB - atMinute.rssKiB;
    std::printf("after the first minute: rss %+ld KiB (range %ld..%ld KiB), heap %+ld KiB, fds %+d, threads %+d\n",
                growth, minRssAfterMinute, maxRssAfterMinute, last.heapKiB - atMinute.heapKiB,
                last.fds - atMinute.fds, last.threads - atMinute.threads);
    const double msPerByte = 1000.0 / (s.sampleRate * 2);
    std::printf("sound after the first minute: lag at most %.0f ms, most held by a source %.0f ms, filled %.0f ms, "
                "trimmed %.0f ms in all\n", maxLagMs, lastMix.maxHeldBytes * msPerByte, lastMix.filledBytes * msPerByte,
                lastMix.trimmedBytes * msPerByte);
    const bool soundKeptTime = maxLagMs < CCaptureAudio::kMaxLateMs && lastMix.maxHeldBytes * msPerByte < 1000;
    const bool met = growth < 2048 && last.fds - atMinute.fds <= 0 && soundKeptTime;
    std::printf("goal (growth < 2 MiB, 0 descriptors, sound neither drifting nor piling up): %s\n",
                met ? "met" : "NOT met");
    return met && owner.ended < 0 ? 0 : 1;
}
