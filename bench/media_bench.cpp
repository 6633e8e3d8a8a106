// Figures for the broadcast pipeline on this machine, per picture size and quality level:
// - the work of one tick, in parts: grab (the window's own contents, or the screen area),
//   convert+scale (the server's 32-bit pixels to YUV 4:2:0) and encode (x264 and queueing);
// - the CPU time of a whole broadcast of a moving window to a local RTMP server, by both picture
//   paths, next to FFmpeg's own command-line tool doing the same job (x11grab) and to "encode
//   only": x264 fed ready YUV pictures of the same content at the same rate, the floor.
// Run under a display large enough for 1920×1080, e.g.
//   tests/fixtures/with-xvfb.sh --size 2560x1440x24 build/bench/media_bench [--seconds 20]

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
#include "GameCaptureX11.h"
#include "XDisplay.h"

extern "C" {
#include <libavutil/log.h>
#include <libswscale/swscale.h>
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
    double grabMs = 0;
    double convertMs = 0;
    double encodeMs = 0;
    double maxMs = 0;
    double TotalMs() const { return grabMs + convertMs + encodeMs; }
};

// The work of one tick, done back to back at the broadcast's rate: grab, convert and scale,
// encode and queue, each timed.
TickFigures MeasureTicks(const CStreamSettings& s, unsigned long window, bool windowContents, int ticks) {
    auto grabber = x11::ScreenGrabberX11::Create();
    CStreamEncoder encoder(&s);
    if (!grabber || encoder.Open(s.url, "flv") != 1) return {};
    if (!windowContents) grabber->DisableComposite();
    const x11::ScreenRect rect{0, 0, s.sourceWidth, s.sourceHeight};
    std::vector<TickFigures> samples;
    const auto period = std::chrono::milliseconds(1000 / s.frameRate);
    const auto start = Clock::now();
    const auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    for (int i = 0; i < ticks; ++i) {
        std::this_thread::sleep_until(start + period * i);
        const auto t0 = Clock::now();
        platform::Picture picture;
        if (!grabber->Grab(window, rect, s.sourceWidth, s.sourceHeight, &picture)) continue;
        const auto t1 = Clock::now();
        const unsigned char* const planes[3] = {picture.pixels, nullptr, nullptr};
        const int strides[3] = {picture.stride, 0, 0};
        encoder.ConvertPicture(CStreamEncoder::PixelLayout::Bgrx32, planes, strides);
        const auto t2 = Clock::now();
        encoder.EncodePicture();
        const auto t3 = Clock::now();
        samples.push_back({ms(t0, t1), ms(t1, t2), ms(t2, t3), ms(t0, t3)});
    }
    encoder.Close();
    // The first pictures include the encoder's warm-up.
    samples.erase(samples.begin(), samples.begin() + std::min<size_t>(5, samples.size()));
    TickFigures f;
    const double n = static_cast<double>(samples.size());
    for (const auto& t : samples) {
        f.grabMs += t.grabMs / n;
        f.convertMs += t.convertMs / n;
        f.encodeMs += t.encodeMs / n;
        f.maxMs = std::max(f.maxMs, t.maxMs);
    }
    return f;
}

// Pictures of the moving window as ready YUV 4:2:0 at the output size, for "encode only".
struct YuvPictures {
    int width = 0, height = 0;
    std::vector<std::vector<unsigned char>> frames;  // Y, then U, then V
};

YuvPictures GrabYuv(const CStreamSettings& s, unsigned long window, int count) {
    YuvPictures out{s.width, s.height, {}};
    auto grabber = x11::ScreenGrabberX11::Create();
    struct SwsFree {
        void operator()(SwsContext* c) const { sws_freeContext(c); }
    };
    std::unique_ptr<SwsContext, SwsFree> scaler(sws_getContext(s.sourceWidth, s.sourceHeight, AV_PIX_FMT_BGRA,
                                                                s.width, s.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                                                nullptr, nullptr, nullptr));
    if (!grabber || !scaler) return out;
    const x11::ScreenRect rect{0, 0, s.sourceWidth, s.sourceHeight};
    const auto period = std::chrono::milliseconds(1000 / s.frameRate);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + period * i);
        platform::Picture picture;
        if (!grabber->Grab(window, rect, s.sourceWidth, s.sourceHeight, &picture)) continue;
        const int w = s.width, h = s.height;
        std::vector<unsigned char> yuv(static_cast<size_t>(w) * h * 3 / 2);
        uint8_t* dst[3] = {yuv.data(), yuv.data() + w * h, yuv.data() + w * h + (w / 2) * (h / 2)};
        const int dstStrides[3] = {w, w / 2, w / 2};
        const uint8_t* const src[1] = {picture.pixels};
        const int srcStrides[1] = {picture.stride};
        sws_scale(scaler.get(), src, srcStrides, 0, s.sourceHeight, dst, dstStrides);
        out.frames.push_back(std::move(yuv));
    }
    return out;
}

// The floor: the encoder fed ready pictures at the broadcast's rate for `seconds`; CPU seconds.
double EncodeOnly(const CStreamSettings& s, const YuvPictures& pictures, int seconds) {
    if (pictures.frames.empty()) return -1;
    CStreamSettings same = s;
    same.sourceWidth = pictures.width;  // the pictures are already at the output size
    same.sourceHeight = pictures.height;
    CStreamEncoder encoder(&same);
    const double before = SelfCpu();
    if (encoder.Open(s.url + "-encode", "flv") != 1) return -1;
    const int w = pictures.width, h = pictures.height;
    const int strides[3] = {w, w / 2, w / 2};
    const auto period = std::chrono::milliseconds(1000 / s.frameRate);
    const auto start = Clock::now();
    for (int i = 0; i < seconds * s.frameRate; ++i) {
        std::this_thread::sleep_until(start + period * i);
        const auto& yuv = pictures.frames[static_cast<size_t>(i) % pictures.frames.size()];
        const unsigned char* const planes[3] = {yuv.data(), yuv.data() + w * h, yuv.data() + w * h + (w / 2) * (h / 2)};
        encoder.ConvertPicture(CStreamEncoder::PixelLayout::Yuv420, planes, strides);
        encoder.EncodePicture();
    }
    encoder.Close();
    return SelfCpu() - before;
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

BroadcastFigures OurBroadcast(const CStreamSettings& s, unsigned long window, bool windowContents, int seconds) {
    QuietOwner owner;
    BroadcastFigures f;
    const double before = SelfCpu();
    {
        std::shared_ptr<x11::GameCaptureX11> capture = x11::GameCaptureX11::Create(window);
        if (!capture) return f;
        if (!windowContents) capture->Grabber().DisableComposite();
        CSendDataStream sender(&owner, &s, capture);
        if (sender.Start(capture, "bench") != 1) return f;
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
    std::printf("CPU seconds over %d s at %d frames/s; ratio = ours / FFmpeg x11grab; tick parts in ms "
                "(mean over %d ticks); \"not x264\" = (grab + convert) / tick\n",
                seconds, fps, 55);
    std::printf("%-9s %3s %-7s %6s %7s %7s %6s %6s %8s | %7s %7s %6s %7s %9s\n", "size", "lvl", "path", "grab",
                "convert", "encode", "tick", "max", "not x264", "ours", "ffmpeg", "ratio", "enc-only", "frames");
    for (const auto& [w, h] : sizes) {
        MovingWindow window(w, h);
        for (int level : levels) {
            const std::string name = std::to_string(w) + "x" + std::to_string(h) + "q" + std::to_string(level);
            const CStreamSettings s = Settings(w, h, level, fps, server.Url(name));
            const double tool = ToolBroadcast(s, seconds);
            const double encodeOnly = EncodeOnly(s, GrabYuv(s, window.Id(), 30), seconds);
            for (const bool windowContents : {true, false}) {
                const TickFigures tick = MeasureTicks(s, window.Id(), windowContents, 60);
                const BroadcastFigures ours = OurBroadcast(s, window.Id(), windowContents, seconds);
                std::printf("%4dx%-4d %3d %-7s %6.2f %7.2f %7.2f %6.2f %6.1f %7.0f%% | %7.2f %7.2f %6.2f %7.2f %4lld/%-4d%s\n",
                            w, h, level, windowContents ? "window" : "screen", tick.grabMs, tick.convertMs,
                            tick.encodeMs, tick.TotalMs(), tick.maxMs,
                            tick.TotalMs() > 0 ? 100.0 * (tick.grabMs + tick.convertMs) / tick.TotalMs() : 0.0,
                            ours.cpu, tool, tool > 0 ? ours.cpu / tool : 0.0, encodeOnly, ours.frames, seconds * fps,
                            ours.ended >= 0 ? " (ended early)" : "");
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
