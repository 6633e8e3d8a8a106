// Figures for the broadcast pipeline on this machine: the work of one tick (screen copy, BGR
// conversion, scaling, encoding) per picture size and quality level, and the CPU time of a whole
// broadcast of a moving window to a local RTMP server, next to FFmpeg's own command-line tool
// doing the same job. Run under a display large enough for 1920×1080, e.g.
//   tests/fixtures/with-xvfb.sh --size 2560x1440x24 build/bench/media_bench [--seconds 30]

#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "CSendDataStream.h"
#include "CStreamEncoder.h"
#include "ILiveOwner.h"
#include "NginxRtmpServer.h"
#include "ScreenGrabberX11.h"
#include "XDisplay.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return CpuSeconds(u);
}

// A child process that keeps a window moving: bars sliding across it 15 times a second.
class MovingWindow {
public:
    MovingWindow(int width, int height) {
        int ready[2];
        if (pipe(ready) != 0) std::abort();
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            Animate(width, height, ready[1]);
            _exit(0);
        }
        close(ready[1]);
        unsigned long id = 0;
        if (read(ready[0], &id, sizeof id) != static_cast<ssize_t>(sizeof id)) std::abort();
        close(ready[0]);
        window_ = id;
    }
    ~MovingWindow() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    unsigned long Id() const { return window_; }

private:
    static void Animate(int width, int height, int readyFd) {
        Display* d = XOpenDisplay(nullptr);
        const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(width),
                                             static_cast<unsigned>(height), 0, 0, 0);
        XMapRaised(d, w);
        XSync(d, False);
        const unsigned long id = w;
        if (write(readyFd, &id, sizeof id) != static_cast<ssize_t>(sizeof id)) _exit(1);
        close(readyFd);
        GC gc = XCreateGC(d, w, 0, nullptr);
        const auto start = Clock::now();
        for (long n = 0;; ++n) {
            for (int i = 0; i < 16; ++i) {
                XSetForeground(d, gc, static_cast<unsigned long>((i * 0x3f1a2b + n * 0x010203) & 0xffffff));
                const int x = static_cast<int>((i * width / 16 + n * 12) % width);
                XFillRectangle(d, w, gc, x, 0, static_cast<unsigned>(width / 16), static_cast<unsigned>(height));
            }
            XSync(d, False);
            std::this_thread::sleep_until(start + std::chrono::milliseconds(66) * (n + 1));
        }
    }
    pid_t pid_ = 0;
    unsigned long window_ = 0;
};

CStreamSettings Settings(int width, int height, int quality, int fps, const std::string& url) {
    CStreamSettings s;
    s.width = s.sourceWidth = width;
    s.height = s.sourceHeight = height;
    s.frameRate = fps;
    s.quality = quality;
    s.url = url;
    s.audioEnabled = 0;
    s.audioDevice = std::nullopt;  // no device: clock-paced silence
    s.bitRate = 1000000;
    return s;
}

struct TickFigures {
    double meanMs = 0;
    double maxMs = 0;
};

// The work of one tick, done back to back: copy, convert, scale, encode, queue.
TickFigures MeasureTicks(const CStreamSettings& s, int ticks) {
    auto grabber = x11::ScreenGrabberX11::Create();
    CStreamEncoder encoder(&s);
    if (!grabber || encoder.Open(s.url, "flv") != 1) return {};
    std::vector<unsigned char> frame(static_cast<size_t>(s.sourceWidth) * s.sourceHeight * 3);
    std::vector<double> ms;
    const auto period = std::chrono::milliseconds(1000 / s.frameRate);
    const auto start = Clock::now();
    for (int i = 0; i < ticks; ++i) {
        std::this_thread::sleep_until(start + period * i);
        const auto t0 = Clock::now();
        grabber->Grab(0, 0, s.sourceWidth, s.sourceHeight, frame.data(), s.sourceWidth * 3);
        encoder.SendVideo(frame.data(), static_cast<unsigned>(frame.size()));
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    encoder.Close();
    // The first pictures include the encoder's warm-up.
    ms.erase(ms.begin(), ms.begin() + std::min<size_t>(5, ms.size()));
    TickFigures f;
    for (double v : ms) f.meanMs += v / static_cast<double>(ms.size());
    f.maxMs = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    return f;
}

class QuietOwner : public ILiveOwner {
public:
    void PostLiveStop(int reason) override { ended = reason; }
    void PostGameWindowLost() override { ended = 0; }
    std::atomic<int> ended{-1};
};

struct BroadcastFigures {
    double cpu = 0;
    long long frames = 0;
    int ended = -1;
};

BroadcastFigures OurBroadcast(const CStreamSettings& s, unsigned long window, int seconds) {
    QuietOwner owner;
    BroadcastFigures f;
    const double before = SelfCpu();
    {
        CSendDataStream sender(&owner, &s, window);
        if (sender.Start(window, "bench") != 1) return f;
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        f.frames = sender.Encoder().VideoFramesEncoded();
    }
    f.cpu = SelfCpu() - before;
    f.ended = owner.ended;
    return f;
}

// The same job by FFmpeg's command-line tool; returns the child's CPU seconds.
double ToolBroadcast(const CStreamSettings& s, int seconds) {
    const char* display = std::getenv("DISPLAY");
    const bool fast = s.quality == 1 || s.quality == 2;
    const std::string params =
        s.quality == 2 ? "ref=4:me=umh:subme=8:trellis=1:8x8dct=1:weightp=2:rc-lookahead=32:mbtree=0:psy=0:scenecut=40"
        : fast         ? "ref=2:me=hex:subme=6:trellis=1:8x8dct=1:weightp=2:rc-lookahead=30:mbtree=0:psy=0:scenecut=40"
                       : "ref=1:me=dia:subme=0:trellis=0:8x8dct=0:weightp=0:rc-lookahead=0:mbtree=0:psy=0:scenecut=0:"
                         "aq-mode=0:cabac=0";
    std::vector<std::string> argv = {
        "ffmpeg", "-v", "error", "-nostdin", "-f", "x11grab", "-draw_mouse", "1", "-framerate",
        std::to_string(s.frameRate), "-video_size", std::to_string(s.sourceWidth) + "x" + std::to_string(s.sourceHeight),
        "-i", std::string(display ? display : ":0") + "+0,0", "-f", "lavfi", "-i", "anullsrc=r=22050:cl=mono",
        "-t", std::to_string(seconds), "-c:v", "libx264", "-preset", fast ? "fast" : "ultrafast", "-tune",
        "zerolatency", "-profile:v", fast ? "high" : "baseline", "-pix_fmt", "yuv420p", "-threads", "2",
        "-thread_type", "frame", "-g",
        "250", "-keyint_min", std::to_string(s.frameRate), "-bf", "0", "-b:v",
        std::to_string(s.bitRate - CStreamEncoder::kAudioBitRate), "-x264-params", params, "-c:a", "aac", "-b:a",
        "15600", "-ar", "22050", "-ac", "1", "-f", "flv", s.url + "-tool"};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return CpuSeconds(usage);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 30;
    int fps = 15;
    std::vector<int> levels = {0, 1, 2};
    std::vector<std::pair<int, int>> sizes = {{1280, 720}, {1920, 1080}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else if (arg == "--level" && i + 1 < argc) levels = {std::atoi(argv[++i])};
        else if (arg == "--size" && i + 1 < argc) {
            int w = 0, h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) == 2) sizes = {{w, h}};
        } else {
            std::fprintf(stderr, "usage: media_bench [--seconds N] [--level L] [--size WxH]\n");
            return 2;
        }
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "media_bench needs a display (run it under tests/fixtures/with-xvfb.sh --size 2560x1440x24)\n");
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    testsupport::NginxRtmpServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    std::printf("%-10s %5s %12s %11s %11s %10s %10s %7s %12s\n", "size", "level", "tick mean ms", "tick max ms",
                "period ms", "ours cpu s", "tool cpu s", "ratio", "frames/expect");
    for (const auto& [w, h] : sizes) {
        MovingWindow window(w, h);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int level : levels) {
            const std::string name = std::to_string(w) + "x" + std::to_string(h) + "q" + std::to_string(level);
            const CStreamSettings s = Settings(w, h, level, fps, server.Url(name));
            const TickFigures tick = MeasureTicks(s, 60);
            const BroadcastFigures ours = OurBroadcast(s, window.Id(), seconds);
            const double tool = ToolBroadcast(s, seconds);
            std::printf("%4dx%-5d %5d %12.1f %11.1f %11d %10.2f %10.2f %7.2f %6lld/%-6d%s\n", w, h, level, tick.meanMs,
                        tick.maxMs, 1000 / fps, ours.cpu, tool, tool > 0 ? ours.cpu / tool : 0.0, ours.frames,
                        seconds * fps, ours.ended >= 0 ? " (ended early)" : "");
            std::fflush(stdout);
        }
    }
    return 0;
}
