// A long broadcast, watched for leaks and for the sound's timing: the real pipeline (X11 capture
// of the sample game; the microphone mixed with the computer's sound, while a voice speaks into
// the microphone and a tone plays into the default output; H.264/AAC to a local nginx-rtmp) runs
// for a fixed time, and every 30 s this process's resident memory, open file descriptors and
// threads are printed, with how far the mixed sound is behind the clock and the most any of its
// sources held: neither may grow. Growth is counted from the end of the first minute, when the
// encoder, the sound server connections and the X11 shared memory are set up.
//   tests/fixtures/with-xvfb.sh tests/fixtures/with-pulse.sh build/bench/soak_bench [--minutes 30]
// (or tests/fixtures/with-pipewire.sh in place of with-pulse.sh)
//
// With --drift PPM the microphone and the output are devices on clocks of their own, as USB
// ones are: a pipe source that this process feeds PPM fast, and a pipe sink, the tone's, that it
// empties PPM slow (a PPM below 0 the other way round). The figures then show whether the mix
// followed them: how often silence was put in and sound skipped, and the lag's range.
//   tests/fixtures/with-xvfb.sh tests/fixtures/with-pulse.sh build/bench/soak_bench --minutes 10 --drift 1000

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CSendDataStream.h"
#include "GameCaptureX11.h"
#include "ChildProcess.h"
#include "ILiveOwner.h"
#include "NginxRtmpServer.h"
#include "SinePlayer.h"
#include "TempDir.h"
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

// A microphone and an output on clocks of their own, made the defaults while the object lives:
// the pipe source "driftmic", fed a 440 Hz tone at (1 + ppm / 10^6) times 22050 samples a second
// by a thread of this object, and the pipe sink "driftsink", emptied by it at (1 - ppm / 10^6)
// times that rate. The server times each by its pipe, so their clocks are these rates.
class DriftingDevices {
public:
    DriftingDevices(const testsupport::TempDir& dir, int ppm) {
        const std::string format = " format=s16le rate=22050 channels=1";
        source_ = testsupport::TestMicrophone::Load("module-pipe-source source_name=driftmic file=" + (dir / "mic") +
                                                    format);
        sink_ = testsupport::TestMicrophone::Load("module-pipe-sink sink_name=driftsink file=" + (dir / "out") + format);
        if (source_.empty() || sink_.empty()) return;
        testsupport::Capture("pactl set-default-source driftmic; pactl set-default-sink driftsink");
        // The server holds both pipes open for reading and writing: these opens do not wait.
        feed_ = open((dir / "mic").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        drain_ = open((dir / "out").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (feed_ < 0 || drain_ < 0) return;
        pacer_ = std::thread([this, ppm] { Pace(ppm); });
    }
    ~DriftingDevices() {
        stop_ = true;
        if (pacer_.joinable()) pacer_.join();
        for (int fd : {feed_, drain_})
            if (fd >= 0) close(fd);
        for (const auto& id : {source_, sink_})
            if (!id.empty()) testsupport::Capture("pactl unload-module " + id);
    }
    DriftingDevices(const DriftingDevices&) = delete;
    DriftingDevices& operator=(const DriftingDevices&) = delete;
    bool Ready() const { return pacer_.joinable(); }
    // Bytes that did not fit into the source's pipe while it was read, or were missing from the
    // sink's: either would take the device off the rate it was given.
    long long Shortfall() const { return shortfall_.load(); }

private:
    void Pace(int ppm) {
        constexpr double kRate = 22050;
        const double feedRate = kRate * (1 + ppm * 1e-6);
        const double drainRate = kRate * (1 - ppm * 1e-6);
        const auto start = Clock::now();
        long long fed = 0, drained = 0;  // samples
        std::vector<int16_t> samples;
        std::vector<char> sink(65536);
        for (long long n = 1; !stop_; ++n) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10) * n);
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            samples.clear();
            for (const long long due = std::llround(t * feedRate); fed < due; ++fed)
                samples.push_back(static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * static_cast<double>(fed) / feedRate)));
            const auto bytes = static_cast<long>(samples.size() * 2);
            // While nothing records, the server leaves the pipe alone: what would pile up there is
            // dropped, as a microphone's sound is while nobody listens.
            int waiting = 0;
            const bool idle = ioctl(feed_, FIONREAD, &waiting) == 0 && waiting > 2205;
            const long wrote = bytes > 0 && !idle ? write(feed_, samples.data(), static_cast<std::size_t>(bytes)) : 0;
            if (!idle) shortfall_ += bytes - std::max(0L, wrote);
            long long want = (std::llround(t * drainRate) - drained) * 2;
            while (want > 0) {
                const long got = read(drain_, sink.data(), static_cast<std::size_t>(std::min<long long>(want, 65536)));
                if (got <= 0) break;
                want -= got;
                drained += got / 2;
            }
            shortfall_ += std::max(0LL, want);
            drained += std::max(0LL, want) / 2;  // what was missing is not owed later
        }
    }

    std::string source_, sink_;
    int feed_ = -1, drain_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<long long> shortfall_{0};
    std::thread pacer_;
};

}  // namespace

int main(int argc, char** argv) {
    int minutes = 30;
    int intervalSeconds = 30;
    int driftPpm = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--minutes" && i + 1 < argc) minutes = std::atoi(argv[++i]);
        else if (arg == "--interval" && i + 1 < argc) intervalSeconds = std::atoi(argv[++i]);
        else if (arg == "--drift" && i + 1 < argc) driftPpm = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: soak_bench [--minutes N] [--interval SECONDS] [--drift PPM]\n");
            return 2;
        }
    }
    if (minutes < 2 || minutes > 240 || intervalSeconds < 1 || std::abs(driftPpm) > 100000) {
        std::fprintf(stderr, "soak_bench: 2 to 240 minutes, an interval of at least 1 s, a drift of at most 100000 ppm\n");
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
    // A tone into the output, and a voice into the microphone, for as long as the broadcast lasts
    // (and a little more); with a drift, the microphone's voice comes from the pipe's feeder.
    std::optional<testsupport::TestMicrophone> microphone;
    const testsupport::TempDir pipes;
    std::optional<DriftingDevices> drifting;
    if (driftPpm != 0) drifting.emplace(pipes, driftPpm);
    else microphone.emplace();
    if ((microphone && !microphone->Ready()) || (drifting && !drifting->Ready())) {
        std::fprintf(stderr, "the test microphone could not be made\n");
        return 1;
    }
    const std::string played = drifting ? "driftsink" : "s1";
    const std::string seconds = std::to_string(minutes * 60 + 60);
    Child tone({"ffmpeg", "-v", "error", "-nostdin", "-re", "-f", "lavfi", "-i", "sine=frequency=880:sample_rate=22050",
                "-t", seconds, "-f", "pulse", "-device", played, "soak tone"});
    std::optional<Child> voice;
    if (microphone)
        voice.emplace(std::vector<std::string>{"ffmpeg", "-v", "error", "-nostdin", "-re", "-f", "lavfi", "-i",
                                               "sine=frequency=440:sample_rate=22050", "-t", seconds, "-f", "pulse",
                                               "-device", "micsink", "soak voice"});

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
    if (drifting)
        std::printf("the microphone's clock %+d ppm, the output's %+d ppm (pipe devices fed and emptied by the bench)\n",
                    driftPpm, -driftPpm);
    std::printf("%7s %10s %9s %5s %8s %9s %9s %8s %7s %6s %7s %7s %8s %6s %6s %11s\n", "time s", "rss KiB", "heap KiB",
                "fds", "threads", "frames", "expected", "discards", "reopens", "load", "lag ms", "held ms", "trim ms",
                "fills", "trims", "ppm lo..hi");
    std::fflush(stdout);

    // The lag's range, looked at ten times a second: the rows below show it only every interval.
    const auto started = Clock::now();
    std::mutex lagMutex;
    double lagLeastMs = 1e9, lagMostMs = -1e9;
    std::atomic<bool> watching{true};
    std::thread lagWatch([&] {
        const double msPerByte = 1000.0 / (s.sampleRate * 2);
        for (long long n = 1; watching; ++n) {
            std::this_thread::sleep_until(started + std::chrono::milliseconds(100) * n);
            // From the second second on: the first is the capture's own start.
            if (Clock::now() - started < std::chrono::seconds(2)) continue;
            const double lag = sender.AudioCapture().MixFigures().lagBytes * msPerByte;
            std::lock_guard lock(lagMutex);
            lagLeastMs = std::min(lagLeastMs, lag);
            lagMostMs = std::max(lagMostMs, lag);
        }
    });

    const auto start = Clock::now();
    Usage atMinute{};
    Usage last{};
    long maxRssAfterMinute = 0;
    long long shortfallAtMinute = 0;
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
            if (drifting) shortfallAtMinute = drifting->Shortfall();
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
        std::printf("%7.0f %10ld %9ld %5d %8d %9lld %9.0f %8llu %7d %6.2f %7.0f %7.0f %8.0f %6lld %6lld %5d..%-5d\n", t,
                    last.rssKiB, last.heapKiB, last.fds, last.threads, sender.Encoder().VideoFramesEncoded(), t * 15,
                    sender.Encoder().DiscardedPackets(), sender.Reopens(), LoadAverage(), mix.lagBytes * msPerByte,
                    mix.maxHeldBytes * msPerByte, mix.trimmedBytes * msPerByte, mix.fills, mix.trims, mix.lowPpm,
                    mix.highPpm);
        std::fflush(stdout);
    }
    watching = false;
    lagWatch.join();
    if (owner.ended >= 0) std::printf("the broadcast ended early (reason %d)\n", owner.ended.load());
    const long growth = last.rssKiB - atMinute.rssKiB;
    std::printf("after the first minute: rss %+ld KiB (range %ld..%ld KiB), heap %+ld KiB, fds %+d, threads %+d\n",
                growth, minRssAfterMinute, maxRssAfterMinute, last.heapKiB - atMinute.heapKiB,
                last.fds - atMinute.fds, last.threads - atMinute.threads);
    const double msPerByte = 1000.0 / (s.sampleRate * 2);
    std::printf("sound after the first minute: lag at most %.0f ms, most held by a source %.0f ms, filled %.0f ms, "
                "trimmed %.0f ms in all\n", maxLagMs, lastMix.maxHeldBytes * msPerByte, lastMix.filledBytes * msPerByte,
                lastMix.trimmedBytes * msPerByte);
    std::printf("sound over the whole broadcast: silence put in %lld times (%.0f ms), sound skipped %lld times "
                "(%.0f ms), lag from %.0f to %.0f ms, corrections now %d..%d ppm\n",
                lastMix.fills, lastMix.filledBytes * msPerByte, lastMix.trims, lastMix.trimmedBytes * msPerByte,
                lagLeastMs, lagMostMs, lastMix.lowPpm, lastMix.highPpm);
    if (drifting)
        std::printf("the pipe devices missed their rates by %lld bytes, %lld of them after the first minute\n",
                    drifting->Shortfall(), drifting->Shortfall() - shortfallAtMinute);
    const bool soundKeptTime = maxLagMs < CCaptureAudio::kMaxLateMs && lastMix.maxHeldBytes * msPerByte < 1000;
    const bool met = growth < 2048 && last.fds - atMinute.fds <= 0 && soundKeptTime;
    std::printf("goal (growth < 2 MiB, 0 descriptors, sound neither drifting nor piling up): %s\n",
                met ? "met" : "NOT met");
    return met && owner.ended < 0 ? 0 : 1;
}
