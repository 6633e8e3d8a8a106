// Figures for the broadcast pipeline on this machine, per picture size and quality level:
// - the work of one tick, in parts: grab (the window's own contents, or the screen area),
//   convert+scale (the server's 32-bit pixels to YUV 4:2:0) and encode (x264 and queueing);
// - the CPU time of a whole broadcast of a moving window to a local RTMP server, by both picture
//   paths, next to FFmpeg's own command-line tool doing the same job (x11grab) and to "encode
//   only": x264 fed ready YUV pictures of the same content at the same rate, the floor.
// Pictures come from bars sliding across a plain window, and from our sample game (a natural
// picture); one more row is the member's default broadcast, the game's larger window scaled to
// 640×480 at 10 frames/s. The run ends with a summary table, one line per row.
// Run under a display large enough for 1920×1080, e.g.
//   tests/fixtures/with-xvfb.sh --size 2560x1440x24 build/bench/media_bench [--seconds 20]
//     [--size WxH] [--level L] [--source bars|game|default] [--screen] [--ours-only]
//     [--convert-only | --no-convert] [--rounds N] [--verbose]
// --portal, under a Wayland desktop (tests/fixtures/with-sway.sh), compares the same game
// broadcast through Composite (Xwayland) and through the ScreenCast portal, in turns, then one
// tick's parts by each path and the CPU of PipeWire's thread.
// It starts with a table of the conversion alone (the earlier swscale call against the converter
// and its candidate scalers, in turns in this process), which takes seconds. --ours-only runs our
// broadcasts alone (for a profiler); --verbose lets the encoder's own messages through to
// standard output, which otherwise carries only the tables.

#include <QCoreApplication>
#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CPictureConverter.h"
#include "CSendDataStream.h"
#include "CStreamEncoder.h"
#include "ChildProcess.h"
#include "ILiveOwner.h"
#include "NginxRtmpServer.h"
#include "RecordingCheck.h"
#include "GameCaptureFactory.h"
#include "GameCaptureX11.h"
#include "WaitFor.h"
#include "WindowListX11.h"
#include "XDisplay.h"

extern "C" {
#include <libavutil/frame.h>
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

// The CPU seconds so far of this process's threads named `name` (PipeWire's thread loop, say).
double ThreadCpu(const std::string& name) {
    double seconds = 0;
    const long ticks = sysconf(_SC_CLK_TCK);
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName != name) continue;
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // utime and stime are the 14th and 15th fields; the name in parentheses may hold spaces.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        seconds += static_cast<double>(utime + stime) / static_cast<double>(ticks);
    }
    return seconds;
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

// Our sample game in a window of its own, at the top left of the screen where FFmpeg's tool
// grabs: balls, gradients, antialiased text.
class SampleGame {
public:
    SampleGame(int width, int height)
        : process_({STRIMO_SAMPLE_GAME, std::to_string(width), std::to_string(height)}), display_(x11::OpenDisplay()) {
        if (!process_.Started() || !display_) return;
        const x11::WindowListX11 list(display_.get());
        testsupport::WaitFor(
            [&] {
                const auto windows = list.VisibleWindowsOf(process_.Pid(), 1);
                if (!windows.empty()) window_ = windows.front();
                return window_ != 0;
            },
            std::chrono::seconds(20), std::chrono::milliseconds(20));
        if (window_ == 0) return;
        XMoveWindow(display_.get(), window_, 0, 0);
        XSync(display_.get(), False);
        // Until it has drawn a few pictures the window is still blank.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    unsigned long Id() const { return window_; }
    long Pid() const { return process_.Pid(); }

private:
    testsupport::ChildProcess process_;
    x11::DisplayPtr display_;
    unsigned long window_ = 0;
};

// One row of the tables: what is broadcast, from which window size to which picture size.
struct Cell {
    std::string source;  // "bars", "game" or "default" (the game scaled, the member's default)
    int sourceWidth, sourceHeight, width, height, level, fps;
};

CStreamSettings Settings(const Cell& c, const std::string& url) {
    CStreamSettings s;
    s.width = c.width;
    s.height = c.height;
    s.sourceWidth = c.sourceWidth;
    s.sourceHeight = c.sourceHeight;
    s.frameRate = c.fps;
    s.quality = c.level;
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
    int fresh = 0;
    double TotalMs() const { return grabMs + convertMs + encodeMs; }
};

// The work of one tick through a capture, as the sender does it at the broadcast's rate: look and
// capture (nothing to read when the picture has not changed: the last one goes out again),
// convert and scale, encode and queue, each timed. `fresh` counts the ticks that had a new picture.
TickFigures MeasureTicks(const CStreamSettings& s, platform::IGameCapture& capture, int ticks) {
    CStreamEncoder encoder(&s);
    if (encoder.Open(s.url, "flv") != 1) return {};
    std::vector<TickFigures> samples;
    platform::Picture last;
    int fresh = 0;
    const auto period = std::chrono::milliseconds(1000 / s.frameRate);
    const auto start = Clock::now();
    const auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    for (int i = 0; i < ticks; ++i) {
        std::this_thread::sleep_until(start + period * i);
        const auto t0 = Clock::now();
        platform::PictureSize size;
        if (capture.Look(&size) != platform::IGameCapture::State::Shown) continue;
        platform::Picture picture;
        const auto result = capture.Capture(s.sourceWidth, s.sourceHeight, &picture);
        if (result == platform::IGameCapture::Result::Failed) continue;
        if (result == platform::IGameCapture::Result::Fresh) {
            last = picture;
            ++fresh;
        }
        if (last.pixels == nullptr) continue;
        const auto t1 = Clock::now();
        const unsigned char* const planes[3] = {last.pixels, nullptr, nullptr};
        const int strides[3] = {last.stride, 0, 0};
        encoder.ConvertPicture(last.layout == platform::PixelLayout::Rgbx ? CStreamEncoder::PixelLayout::Rgbx32
                                                                            : CStreamEncoder::PixelLayout::Bgrx32,
                               planes, strides);
        const auto t2 = Clock::now();
        encoder.EncodePicture();
        const auto t3 = Clock::now();
        samples.push_back({ms(t0, t1), ms(t1, t2), ms(t2, t3), ms(t0, t3)});
    }
    encoder.Close();
    // The first pictures include the encoder's warm-up.
    samples.erase(samples.begin(), samples.begin() + std::min<size_t>(5, samples.size()));
    TickFigures f;
    f.fresh = fresh;
    const double n = static_cast<double>(samples.size());
    for (const auto& t : samples) {
        f.grabMs += t.grabMs / n;
        f.convertMs += t.convertMs / n;
        f.encodeMs += t.encodeMs / n;
        f.maxMs = std::max(f.maxMs, t.maxMs);
    }
    return f;
}

// The same through Composite (the window's own contents) or the screen area under it.
TickFigures MeasureTicks(const CStreamSettings& s, unsigned long window, bool windowContents, int ticks) {
    const std::unique_ptr<x11::GameCaptureX11> capture = x11::GameCaptureX11::Create(window);
    if (!capture) return {};
    if (!windowContents) capture->Grabber().DisableComposite();
    return MeasureTicks(s, *capture, ticks);
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
    double captureThreadCpu = 0;  // the part of `cpu` spent on the capture's own thread, if it has one
};

// The thread on which PipeWire delivers and we copy the portal's changed pictures.
const char kPipeWireThread[] = "strimo-capture";

// Our whole broadcast for `seconds`, the capture included from its opening on: our process's CPU.
BroadcastFigures Broadcast(const CStreamSettings& s, const std::function<std::shared_ptr<platform::IGameCapture>()>& open,
                           int seconds) {
    QuietOwner owner;
    BroadcastFigures f;
    const double before = SelfCpu();
    {
        std::shared_ptr<platform::IGameCapture> capture = open();
        if (!capture) return f;
        CSendDataStream sender(&owner, &s, capture);
        if (sender.Start(capture, "bench") != 1) return f;
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        f.frames = sender.Encoder().VideoFramesEncoded();
        f.captureThreadCpu = ThreadCpu(kPipeWireThread);
    }
    f.cpu = SelfCpu() - before;
    f.ended = owner.ended;
    return f;
}

BroadcastFigures OurBroadcast(const CStreamSettings& s, unsigned long window, bool windowContents, int seconds) {
    return Broadcast(
        s,
        [&]() -> std::shared_ptr<platform::IGameCapture> {
            std::shared_ptr<x11::GameCaptureX11> capture = x11::GameCaptureX11::Create(window);
            if (capture && !windowContents) capture->Grabber().DisableComposite();
            return capture;
        },
        seconds);
}

// The game shared by the desktop's ScreenCast portal, as a native Wayland game is; the
// compositor's and PipeWire's own work is theirs, not ours.
std::shared_ptr<platform::IGameCapture> OpenPortal(long pid) {
    platform::GameSource game;
    game.pid = pid;
    std::string failure;
    std::shared_ptr<platform::IGameCapture> capture = platform::OpenGameCapture(game, &failure);
    if (!capture) std::fprintf(stderr, "the portal did not share the game: %s\n", failure.c_str());
    return capture;
}

// The portal's rows: the sample game, an X11 program under the Wayland desktop's Xwayland, filling
// the desktop's 1280×720 monitor, broadcast through Composite and through the portal in turns;
// then one tick's parts by each path.
int PortalRows(FILE* out, int seconds, int rounds) {
    int argc = 1;
    char name[] = "media_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);  // the portal's answers arrive on its event loop
    testsupport::NginxRtmpServer server(false);
    if (!server.Start()) return 1;
    // An X11 window, so that Composite can read it too (Qt would make it a Wayland client here).
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    SampleGame game(1280, 720);
    if (game.Id() == 0) {
        std::fprintf(stderr, "the sample game showed no X11 window\n");
        return 1;
    }
    const Cell c{"game", 1280, 720, 1280, 720, 0, 15};
    std::fprintf(out, "portal against Composite: the sample game at 1280x720, level 0, 15 frames/s, our CPU "
                      "seconds over %d s; \"copy\" = of which PipeWire's thread (receiving and copying pictures)\n"
                      "%-6s %10s %8s %10s %8s %8s %7s\n",
                 seconds, "round", "composite", "frames", "portal", "copy", "frames", "ratio");
    for (int round = 0; round < rounds; ++round) {
        const BroadcastFigures x = OurBroadcast(Settings(c, server.Url("composite")), game.Id(), true, seconds);
        const BroadcastFigures p = Broadcast(Settings(c, server.Url("portal")), [&] { return OpenPortal(game.Pid()); },
                                             seconds);
        std::fprintf(out, "%-6d %10.2f %8lld %10.2f %8.2f %8lld %7.2f\n", round + 1, x.cpu, x.frames, p.cpu,
                     p.captureThreadCpu, p.frames, x.cpu > 0 ? p.cpu / x.cpu : 0.0);
        std::fflush(out);
    }
    // One tick's parts in ms, mean over the ticks after the encoder's warm-up. The portal's
    // capture only takes the newest picture PipeWire's thread already copied.
    const int ticks = seconds * c.fps;
    std::fprintf(out, "\none tick in ms over %d ticks (new pictures: how many ticks had one)\n%-10s %7s %8s %7s %7s %7s %12s\n",
                 ticks, "path", "capture", "convert", "encode", "tick", "max", "new pictures");
    for (const bool portal : {false, true}) {
        const CStreamSettings s = Settings(c, server.Url(portal ? "portal-ticks" : "composite-ticks"));
        TickFigures t;
        if (portal) {
            if (const auto capture = OpenPortal(game.Pid())) t = MeasureTicks(s, *capture, ticks);
        } else {
            t = MeasureTicks(s, game.Id(), true, ticks);
        }
        std::fprintf(out, "%-10s %7.2f %8.2f %7.2f %7.2f %7.2f %8d/%-4d\n", portal ? "portal" : "composite", t.grabMs,
                     t.convertMs, t.encodeMs, t.TotalMs(), t.maxMs, t.fresh, ticks);
        std::fflush(out);
    }
    return 0;
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
        "-t", std::to_string(seconds), "-s", std::to_string(s.width) + "x" + std::to_string(s.height), "-c:v", "libx264", "-preset", fast ? "fast" : "ultrafast", "-tune",
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

std::string SizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

// ---- Conversion alone: the earlier one-step swscale call against the converter, per size ----

using testsupport::FramePtr;
using testsupport::YuvFrame;

// PSNR in dB of one plane against the reference's.
double Psnr(const AVFrame* a, const AVFrame* reference, int plane) {
    const int w = plane == 0 ? a->width : (a->width + 1) / 2;
    const int h = plane == 0 ? a->height : (a->height + 1) / 2;
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = a->data[plane][y * a->linesize[plane] + x] -
                             reference->data[plane][y * reference->linesize[plane] + x];
            sum += d * d;
        }
    const double mse = sum / (static_cast<double>(w) * h);
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double CpuMsOf(clockid_t clock, const std::function<void()>& work) {
    timespec a{}, b{};
    clock_gettime(clock, &a);
    work();
    clock_gettime(clock, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) * 1e3 + static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One picture of the sample game, as the grabber hands it over (32-bit, blue first).
std::vector<unsigned char> GamePicture(int width, int height) {
    SampleGame game(width, height);
    auto grabber = x11::ScreenGrabberX11::Create();
    platform::Picture picture;
    if (game.Id() == 0 || !grabber ||
        !grabber->Grab(game.Id(), x11::ScreenRect{0, 0, width, height}, width, height, &picture))
        return {};
    std::vector<unsigned char> packed(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        std::memcpy(&packed[static_cast<size_t>(y) * width * 4], picture.pixels + static_cast<long>(y) * picture.stride,
                    static_cast<size_t>(width) * 4);
    return packed;
}

// Median wall-clock and CPU milliseconds per picture of each way, run in turns so that a busy
// machine weighs on all of them alike, and each way's PSNR against a Lanczos reference.
void ConversionTable(FILE* out, int rounds) {
    struct Case {
        int sourceWidth, sourceHeight, width, height;
    };
    const Case cases[] = {{1280, 720, 1280, 720}, {1920, 1080, 1920, 1080}, {1920, 1080, 1280, 720}, {1280, 720, 640, 480}};
    std::fprintf(out, "\nConversion of one picture of the sample game, 32-bit to YUV 4:2:0 (%d rounds in turns; ms: "
                 "median wall / median CPU; PSNR Y/U/V in dB against swscale Lanczos)\n", rounds);
    std::fprintf(out, "| picture | way | wall ms | CPU ms | PSNR Y | U | V |\n|---|---|---|---|---|---|---|\n");
    using Scaling = CPictureConverter::Scaling;
    for (const Case& c : cases) {
        const std::vector<unsigned char> pixels = GamePicture(c.sourceWidth, c.sourceHeight);
        if (pixels.empty()) {
            std::fprintf(stderr, "no picture of the game at %dx%d\n", c.sourceWidth, c.sourceHeight);
            continue;
        }
        const unsigned char* const planes[3] = {pixels.data(), nullptr, nullptr};
        const int strides[3] = {c.sourceWidth * 4, 0, 0};
        const bool scaled = c.sourceWidth != c.width || c.sourceHeight != c.height;
        struct Way {
            std::string name;
            std::function<void(AVFrame*)> convert;
            bool threads = false;
        };
        std::vector<Way> ways;
        auto oneStep = [&](int flags) {
            auto ctx = std::shared_ptr<SwsContext>(sws_getContext(c.sourceWidth, c.sourceHeight, AV_PIX_FMT_BGRA, c.width,
                                                                  c.height, AV_PIX_FMT_YUV420P, flags, nullptr, nullptr,
                                                                  nullptr),
                                                   sws_freeContext);
            return [ctx, &planes, &strides, &c](AVFrame* dst) {
                sws_scale(ctx.get(), planes, strides, 0, c.sourceHeight, dst->data, dst->linesize);
            };
        };
        auto reference = YuvFrame(c.width, c.height);
        oneStep(SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_FULL_CHR_H_INT)(reference.get());
        ways.push_back({"swscale one step, bilinear (earlier)", oneStep(SWS_BILINEAR | SWS_FULL_CHR_H_INP)});
        std::vector<std::pair<std::string, Scaling>> scalings = {{"converter", CPictureConverter::kDefaultScaling}};
        if (scaled)
            scalings = {{"libyuv, then swscale bilinear", Scaling::SwsBilinear},
                        {"libyuv, then swscale bicubic", Scaling::SwsBicubic},
                        {"libyuv, then swscale bicubic on 2 threads", Scaling::SwsBicubicThreads},
                        {"libyuv, then libyuv box", Scaling::LibyuvBox},
                        {"libyuv, then libyuv bilinear", Scaling::LibyuvBilinear}};
        size_t kept = 0;
        for (const auto& [name, scaling] : scalings) {
            auto converter = std::make_shared<CPictureConverter>();
            if (!converter->Configure(c.sourceWidth, c.sourceHeight, c.width, c.height, scaling)) continue;
            const bool isDefault = scaling == CPictureConverter::kDefaultScaling;
            if (isDefault) kept = ways.size();
            ways.push_back({name + (scaled && isDefault ? " (kept)" : ""),
                            [converter, &planes, &strides](AVFrame* dst) {
                                converter->Convert(CPictureConverter::Layout::Bgrx32, planes, strides, dst);
                            },
                            scaling == Scaling::SwsBicubicThreads});
        }
        std::vector<FramePtr> outputs;
        std::vector<std::vector<double>> wall(ways.size()), cpu(ways.size());
        for (size_t i = 0; i < ways.size(); ++i) outputs.push_back(YuvFrame(c.width, c.height));
        for (int r = 0; r < rounds; ++r)
            for (size_t i = 0; i < ways.size(); ++i) {
                const auto t0 = Clock::now();
                // Threads other than this one count for the threaded way.
                cpu[i].push_back(CpuMsOf(ways[i].threads ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_THREAD_CPUTIME_ID,
                                         [&] { ways[i].convert(outputs[i].get()); }));
                wall[i].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            }
        const std::string picture = scaled ? SizeText(c.sourceWidth, c.sourceHeight) + " to " + SizeText(c.width, c.height)
                                           : SizeText(c.width, c.height) + " same size";
        for (size_t i = 0; i < ways.size(); ++i)
            std::fprintf(out, "| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f |\n", picture.c_str(), ways[i].name.c_str(),
                         Median(wall[i]), Median(cpu[i]), Psnr(outputs[i].get(), reference.get(), 0),
                         Psnr(outputs[i].get(), reference.get(), 1), Psnr(outputs[i].get(), reference.get(), 2));
        // The converter against the earlier call's own output.
        if (kept > 0)
            std::fprintf(out, "| %s | converter against the earlier output | | | %.2f | %.2f | %.2f |\n", picture.c_str(),
                         Psnr(outputs[kept].get(), outputs[0].get(), 0), Psnr(outputs[kept].get(), outputs[0].get(), 1),
                         Psnr(outputs[kept].get(), outputs[0].get(), 2));
        std::fflush(out);
    }
}

struct Row {
    Cell cell;
    bool windowContents = true;
    TickFigures tick;
    BroadcastFigures ours;
    double tool = -1;
    double encodeOnly = -1;
};

void PrintRow(FILE* out, const Row& r, int seconds) {
    const Cell& c = r.cell;
    const double share = r.tick.TotalMs() > 0 ? 100.0 * (r.tick.grabMs + r.tick.convertMs) / r.tick.TotalMs() : 0.0;
    const std::string size = c.sourceWidth == c.width && c.sourceHeight == c.height
                                 ? SizeText(c.width, c.height)
                                 : SizeText(c.sourceWidth, c.sourceHeight) + ">" + SizeText(c.width, c.height);
    std::fprintf(out, "%-7s %-19s %3d %3d %-6s %6.2f %7.2f %7.2f %6.2f %6.1f %7.0f%% | %7.2f %7.2f %6.2f %7.2f %4lld/%-4d%s\n",
                 c.source.c_str(), size.c_str(), c.level, c.fps, r.windowContents ? "window" : "screen", r.tick.grabMs,
                 r.tick.convertMs, r.tick.encodeMs, r.tick.TotalMs(), r.tick.maxMs, share, r.ours.cpu, r.tool,
                 r.tool > 0 ? r.ours.cpu / r.tool : 0.0, r.encodeOnly, r.ours.frames, seconds * c.fps,
                 r.ours.ended >= 0 ? " (ended early)" : "");
    std::fflush(out);
}

void PrintSummary(FILE* out, const std::vector<Row>& rows, int seconds) {
    std::fprintf(out, "\nSummary (%d s per broadcast; ratio = our CPU / FFmpeg tool's CPU at equal settings; "
                 "x264 alone = encode-only CPU / tool's; goal: ratio <= x264 alone + 0.08)\n", seconds);
    std::fprintf(out, "| source | size | level | fps | path | ours / tool | x264 alone / tool | gap | grab + convert share "
                 "| convert ms | frames sent |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        const Cell& c = r.cell;
        const double ratio = r.tool > 0 ? r.ours.cpu / r.tool : 0.0;
        const double floor = r.tool > 0 ? r.encodeOnly / r.tool : 0.0;
        const double share = r.tick.TotalMs() > 0 ? 100.0 * (r.tick.grabMs + r.tick.convertMs) / r.tick.TotalMs() : 0.0;
        const std::string size = c.sourceWidth == c.width && c.sourceHeight == c.height
                                     ? SizeText(c.width, c.height)
                                     : SizeText(c.sourceWidth, c.sourceHeight) + " to " + SizeText(c.width, c.height);
        std::fprintf(out, "| %s | %s | %d | %d | %s | %.2f | %.2f | %+.2f | %.0f %% | %.2f | %lld/%d%s |\n",
                     c.source.c_str(), size.c_str(), c.level, c.fps, r.windowContents ? "window" : "screen", ratio,
                     floor, ratio - floor, share, r.tick.convertMs, r.ours.frames, seconds * c.fps,
                     r.ours.ended >= 0 ? " ended early" : "");
    }
    std::fflush(out);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 20;
    std::optional<int> onlyLevel;
    std::optional<std::pair<int, int>> onlySize;
    std::optional<std::string> onlySource;
    bool screenToo = false, oursOnly = false, verbose = false, convertOnly = false, noConvert = false, portal = false;
    int rounds = 40;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else if (arg == "--level" && i + 1 < argc) onlyLevel = std::atoi(argv[++i]);
        else if (arg == "--source" && i + 1 < argc) onlySource = argv[++i];
        else if (arg == "--screen") screenToo = true;
        else if (arg == "--portal") portal = true;
        else if (arg == "--ours-only") oursOnly = true;
        else if (arg == "--verbose") verbose = true;
        else if (arg == "--convert-only") convertOnly = true;
        else if (arg == "--no-convert") noConvert = true;
        else if (arg == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
        else if (arg == "--size" && i + 1 < argc) {
            int w = 0, h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2) return 2;
            onlySize = std::make_pair(w, h);
        } else {
            std::fprintf(stderr, "usage: media_bench [--seconds N] [--level L] [--size WxH] [--source bars|game|default] "
                                 "[--screen] [--ours-only] [--convert-only | --no-convert] [--rounds N] [--verbose] "
                                 "[--portal (under tests/fixtures/with-sway.sh or with-gnome.sh)]\n");
            return 2;
        }
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "media_bench needs a display (run it under tests/fixtures/with-xvfb.sh --size 2560x1440x24)\n");
        return 2;
    }
    // The tables keep standard output; what the encoder prints there on every Open goes to the
    // null device unless asked for.
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    if (out == nullptr) return 1;
    if (!verbose) {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    av_log_set_level(AV_LOG_ERROR);
    if (portal) return PortalRows(out, seconds, std::min(rounds, 3));
    // Seconds, not minutes: a regression of the converter shows here first.
    if (!noConvert && !oursOnly) ConversionTable(out, rounds);
    if (convertOnly) return 0;

    std::vector<Cell> cells;
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1280, 720}, {1920, 1080}})
        for (const char* source : {"bars", "game"})
            for (int level : {0, 1, 2}) cells.push_back({source, w, h, w, h, level, 15});
    // The member's default broadcast: 640×480 at 10 frames/s, level 0, from a larger window.
    cells.push_back({"default", 1280, 720, 640, 480, 0, 10});
    std::erase_if(cells, [&](const Cell& c) {
        return (onlyLevel && c.level != *onlyLevel) || (onlySource && c.source != *onlySource) ||
               (onlySize && (c.sourceWidth != onlySize->first || c.sourceHeight != onlySize->second));
    });

    testsupport::NginxRtmpServer server(false);
    if (!server.Start()) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    std::fprintf(out, "CPU seconds over %d s; ratio = ours / FFmpeg x11grab; tick parts in ms (mean over 55 ticks); "
                 "\"not x264\" = (grab + convert) / tick\n", seconds);
    std::fprintf(out, "%-7s %-19s %3s %3s %-6s %6s %7s %7s %6s %6s %8s | %7s %7s %6s %7s %9s\n", "source", "size", "lvl",
                 "fps", "path", "grab", "convert", "encode", "tick", "max", "not x264", "ours", "ffmpeg", "ratio",
                 "enc-only", "frames");
    std::vector<Row> rows;
    // One window on the screen at a time, kept for the rows that use it.
    std::unique_ptr<MovingWindow> bars;
    std::unique_ptr<SampleGame> game;
    std::string shown;
    for (const Cell& c : cells) {
        const bool isBars = c.source == "bars";
        const std::string key = (isBars ? "bars " : "game ") + SizeText(c.sourceWidth, c.sourceHeight);
        if (key != shown) {
            bars.reset();
            game.reset();
            if (isBars) bars = std::make_unique<MovingWindow>(c.sourceWidth, c.sourceHeight);
            else game = std::make_unique<SampleGame>(c.sourceWidth, c.sourceHeight);
            shown = key;
        }
        const unsigned long window = isBars ? bars->Id() : game->Id();
        if (window == 0) {
            std::fprintf(stderr, "no window for %s\n", key.c_str());
            continue;
        }
        const std::string name = c.source + SizeText(c.width, c.height) + "q" + std::to_string(c.level);
        const CStreamSettings s = Settings(c, server.Url(name));
        Row row;
        row.cell = c;
        if (!oursOnly) {
            row.tool = ToolBroadcast(s, seconds);
            row.encodeOnly = EncodeOnly(s, GrabYuv(s, window, 30), seconds);
        }
        for (const bool windowContents : {true, false}) {
            if (!windowContents && !screenToo) break;
            row.windowContents = windowContents;
            if (!oursOnly) row.tick = MeasureTicks(s, window, windowContents, 60);
            row.ours = OurBroadcast(s, window, windowContents, seconds);
            PrintRow(out, row, seconds);
            rows.push_back(row);
        }
    }
    PrintSummary(out, rows, seconds);
    return 0;
}
