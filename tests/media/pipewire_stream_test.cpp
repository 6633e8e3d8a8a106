// The receiving end of a desktop's screencast (PipeWireStream, and the capture over it) against
// a real PipeWire daemon (tests/fixtures/with-pipewire.sh) and a video source of ours on the same
// daemon: a driving output stream that sends what a desktop's screencast sends (pictures in each
// pixel order, wide rows, a crop, buffers that carry only the pointer or a damaged picture). The
// stream reaches the daemon through a socket of our own, as the portal hands one over.

#include <gtest/gtest.h>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GameCapturePortal.h"
#include "PipeWireStream.h"
#include "WaitFor.h"

using namespace std::chrono_literals;
using pipewire::PipeWireStream;
using testsupport::WaitFor;
using Pointer = PipeWireStream::Pointer;

namespace {

// A connection to the daemon of XDG_RUNTIME_DIR, as the portal's OpenPipeWireRemote gives one.
int ConnectToDaemon() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir == nullptr) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s/pipewire-0", dir);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

// The source's picture: red and green tell the place in its whole buffer, blue which picture.
Rgb Colour(int x, int y, int marker) { return {x % 251, y % 241, marker}; }

// What one buffer of the source carries.
struct Shot {
    enum class Picture {
        Whole,
        EmptyChunk,       // no picture: what a pointer-only buffer carries
        CorruptedChunk,   // a picture flagged unusable in its chunk
        CorruptedHeader,  // ... or in the buffer's header
    };
    int marker = 1;
    Picture picture = Picture::Whole;
    spa_region crop{};        // none while its size is 0
    uint32_t cursorId = 0;    // 0: no pointer over the picture
    int cursorX = 0, cursorY = 0;  // in the whole buffer
};

// A screencast of our own: a driving video source on its own thread loop, offering one format
// and size, with the header, crop and (where asked) pointer metadata a desktop sends.
class VideoSource {
public:
    struct Setup {
        spa_video_format format = SPA_VIDEO_FORMAT_BGRx;
        int width = 64;
        int height = 48;
        int stride = 0;  // 0: width × 4
        bool cursorMeta = true;
        // Memory files of the source's own, as desktops share; else the daemon's memory, which
        // the stream receives as memory already mapped.
        bool ownMemFd = false;
    };

    explicit VideoSource(const Setup& setup) : setup_(setup) {
        if (setup_.stride == 0) setup_.stride = setup_.width * 4;
        pw_init(nullptr, nullptr);
        loop_ = pw_thread_loop_new("test-source", nullptr);
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) return;
        pw_thread_loop_lock(loop_);
        core_ = pw_context_connect(context_, nullptr, 0);
        if (core_ != nullptr) {
            stream_ = pw_stream_new(core_, "strimo test source",
                                    pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
            events_.version = PW_VERSION_STREAM_EVENTS;
            events_.state_changed = &VideoSource::OnState;
            events_.param_changed = &VideoSource::OnParam;
            events_.add_buffer = &VideoSource::OnAddBuffer;
            events_.remove_buffer = &VideoSource::OnRemoveBuffer;
            events_.trigger_done = &VideoSource::OnCycleDone;
            pw_stream_add_listener(stream_, &hook_, &events_, this);
            uint8_t storage[512];
            const spa_pod* format = EnumFormat(storage, sizeof(storage));
            const auto memory = setup_.ownMemFd ? PW_STREAM_FLAG_ALLOC_BUFFERS : PW_STREAM_FLAG_MAP_BUFFERS;
            pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                              static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | memory), &format, 1);
        }
        pw_thread_loop_unlock(loop_);
    }

    ~VideoSource() {
        if (loop_ == nullptr) return;
        pw_thread_loop_lock(loop_);
        if (stream_ != nullptr) {
            spa_hook_remove(&hook_);
            pw_stream_destroy(stream_);
        }
        if (core_ != nullptr) pw_core_disconnect(core_);
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_stop(loop_);
        if (context_ != nullptr) pw_context_destroy(context_);
        pw_thread_loop_destroy(loop_);
    }
    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    // The source's node, once the daemon has made it; 0 when it did not come.
    unsigned NodeId() {
        if (stream_ == nullptr || !WaitFor([&] { return state_.load() >= PW_STREAM_STATE_PAUSED; }, 5000ms))
            return 0;
        pw_thread_loop_lock(loop_);
        const unsigned id = pw_stream_get_node_id(stream_);
        pw_thread_loop_unlock(loop_);
        return id;
    }

    // Sends `shot` in a free buffer; false while there is none (no consumer linked yet).
    bool Send(const Shot& shot) {
        pw_thread_loop_lock(loop_);
        pw_buffer* b = nullptr;
        if (!held_.empty()) {
            b = held_.back();
            held_.pop_back();
        } else if (stream_ != nullptr) {
            b = pw_stream_dequeue_buffer(stream_);
        }
        if (b == nullptr) {
            pw_thread_loop_unlock(loop_);
            return false;
        }
        spa_buffer* buffer = b->buffer;
        if (auto* header = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
            header->flags = shot.picture == Shot::Picture::CorruptedHeader ? SPA_META_HEADER_FLAG_CORRUPTED : 0;
            header->seq = seq_++;
            header->pts = -1;
        }
        if (auto* crop = static_cast<spa_meta_region*>(
                spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region))))
            crop->region = shot.crop;
        if (auto* cursor = static_cast<spa_meta_cursor*>(
                spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
            cursor->id = shot.cursorId;
            cursor->flags = 0;
            cursor->position = {shot.cursorX, shot.cursorY};
            cursor->hotspot = {0, 0};
            cursor->bitmap_offset = 0;
        }
        spa_data& data = buffer->datas[0];
        // Until the buffers of a new size come, the old ones hold no picture of it.
        const bool fits = data.data != nullptr && data.maxsize >= static_cast<uint32_t>(drawn_.stride * drawn_.height);
        if (fits) Draw(static_cast<unsigned char*>(data.data), shot);
        data.chunk->offset = 0;
        data.chunk->stride = drawn_.stride;
        data.chunk->size = shot.picture == Shot::Picture::EmptyChunk || !fits ? 0 : drawn_.stride * drawn_.height;
        data.chunk->flags = shot.picture == Shot::Picture::CorruptedChunk ? SPA_CHUNK_FLAG_CORRUPTED : 0;
        pw_stream_queue_buffer(stream_, b);
        // One cycle of the graph for each buffer, as a desktop's screencast drives it.
        pw_stream_trigger_process(stream_);
        pw_thread_loop_unlock(loop_);
        return true;
    }

    // How many of the source's buffers are free to send: back from the consumer, or never taken
    // by the link. They stay the source's until Send takes them.
    int FreeBuffers() {
        pw_thread_loop_lock(loop_);
        while (pw_buffer* b = stream_ != nullptr ? pw_stream_dequeue_buffer(stream_) : nullptr) held_.push_back(b);
        const int free = static_cast<int>(held_.size());
        pw_thread_loop_unlock(loop_);
        return free;
    }
    // How many buffers the link agreed on.
    int Buffers() const { return buffers_.load(); }
    // Sends `shot` and waits until the graph's cycle that carries it to the consumer has ended.
    bool SendInACycle(const Shot& shot) {
        const int before = cycles_.load();
        return Send(shot) && WaitFor([&] { return cycles_.load() > before; });
    }

    // Offers another size (and row length): the link agrees on the format again.
    void Resize(int width, int height, int stride) {
        pw_thread_loop_lock(loop_);
        setup_.width = width;
        setup_.height = height;
        setup_.stride = stride;
        uint8_t storage[512];
        const spa_pod* format = EnumFormat(storage, sizeof(storage));
        pw_stream_update_params(stream_, &format, 1);
        pw_thread_loop_unlock(loop_);
    }

    // The source's node goes away, as when the shared window is closed.
    void Disconnect() {
        pw_thread_loop_lock(loop_);
        pw_stream_disconnect(stream_);
        pw_thread_loop_unlock(loop_);
    }

private:
    const spa_pod* EnumFormat(uint8_t* storage, uint32_t size) const {
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, size);
        const spa_rectangle picture{static_cast<uint32_t>(setup_.width), static_cast<uint32_t>(setup_.height)};
        const spa_fraction rate{0, 1};
        return static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
            SPA_FORMAT_VIDEO_format, SPA_POD_Id(setup_.format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&picture),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    }

    // The pattern in the format's byte order, and bytes past each row's pixels that must never
    // be read as picture. A buffer flagged as holding no picture gets the pattern too: reading it
    // would show.
    void Draw(unsigned char* pixels, const Shot& shot) const {
        for (int y = 0; y < drawn_.height; ++y) {
            unsigned char* row = pixels + static_cast<std::size_t>(y) * drawn_.stride;
            for (int x = 0; x < drawn_.width; ++x) {
                const Rgb c = Colour(x, y, shot.marker);
                unsigned char* px = row + x * 4;
                const bool rgb = setup_.format == SPA_VIDEO_FORMAT_RGBx || setup_.format == SPA_VIDEO_FORMAT_RGBA;
                px[0] = static_cast<unsigned char>(rgb ? c.r : c.b);
                px[1] = static_cast<unsigned char>(c.g);
                px[2] = static_cast<unsigned char>(rgb ? c.b : c.r);
                px[3] = 0xff;
            }
            std::memset(row + drawn_.width * 4, 0xee, static_cast<std::size_t>(drawn_.stride - drawn_.width * 4));
        }
    }

    static void OnAddBuffer(void* self, pw_buffer* b) {
        auto* s = static_cast<VideoSource*>(self);
        ++s->buffers_;
        if (!s->setup_.ownMemFd) return;
        spa_data& data = b->buffer->datas[0];
        const auto size = static_cast<uint32_t>(s->drawn_.stride * s->drawn_.height);
        data.type = SPA_DATA_MemFd;
        data.flags = SPA_DATA_FLAG_READWRITE;
        data.fd = ::memfd_create("strimo-test-source", MFD_CLOEXEC);
        data.mapoffset = 0;
        data.maxsize = size;
        data.data = nullptr;
        if (data.fd >= 0 && ::ftruncate(data.fd, size) == 0) {
            void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, static_cast<int>(data.fd), 0);
            if (mapped != MAP_FAILED) data.data = mapped;
        }
    }

    static void OnRemoveBuffer(void* self, pw_buffer* b) {
        auto* s = static_cast<VideoSource*>(self);
        --s->buffers_;
        std::erase(s->held_, b);
        if (!s->setup_.ownMemFd) return;
        spa_data& data = b->buffer->datas[0];
        if (data.data != nullptr) ::munmap(data.data, data.maxsize);
        if (data.fd >= 0) ::close(static_cast<int>(data.fd));
        data.data = nullptr;
        data.fd = -1;
    }

    static void OnCycleDone(void* self) { ++static_cast<VideoSource*>(self)->cycles_; }

    static void OnState(void* self, pw_stream_state, pw_stream_state state, const char*) {
        static_cast<VideoSource*>(self)->state_ = state;
    }

    // Once the format is agreed: buffers of the agreed size with rows `stride` long, and the
    // metadata a desktop's screencast sends.
    static void OnParam(void* self, uint32_t id, const spa_pod* param) {
        auto* s = static_cast<VideoSource*>(self);
        if (param == nullptr || id != SPA_PARAM_Format) return;
        // The size offered last is the one agreed.
        s->drawn_ = s->setup_;
        uint8_t storage[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
        const spa_pod* params[4];
        uint32_t count = 0;
        params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
            SPA_POD_Int(s->drawn_.stride * s->drawn_.height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(s->drawn_.stride),
            SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
        params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
        // A desktop's room for the pointer: its position and a 64×64 bitmap.
        if (s->drawn_.cursorMeta)
            params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
                SPA_PARAM_META_size,
                SPA_POD_Int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 64 * 64 * 4)));
        pw_stream_update_params(s->stream_, params, count);
    }

    Setup setup_;  // offered
    Setup drawn_;  // agreed: the size of the buffers
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    pw_stream_events events_{};
    spa_hook hook_{};
    std::atomic<pw_stream_state> state_{PW_STREAM_STATE_UNCONNECTED};
    uint64_t seq_ = 0;
    std::atomic<int> buffers_{0};
    std::atomic<int> cycles_{0};
    std::vector<pw_buffer*> held_;  // free buffers FreeBuffers took, not sent yet
};

// Holds the stream's own PipeWire thread still, as a busy machine or a long copy does: what the
// source sends meanwhile waits in the stream's queue, and the stream finds it all at once. The
// thread is stopped in a signal handler of this process until Resume.
class StreamThreadPause {
public:
    StreamThreadPause() {
        sem_init(&resume_, 0, 0);
        struct sigaction action {};
        action.sa_handler = &StreamThreadPause::OnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR2, &action, &previous_);
    }
    ~StreamThreadPause() {
        Resume();
        sigaction(SIGUSR2, &previous_, nullptr);
        sem_destroy(&resume_);
    }
    StreamThreadPause(const StreamThreadPause&) = delete;
    StreamThreadPause& operator=(const StreamThreadPause&) = delete;

    // Stops the thread PipeWireStream names "strimo-capture"; false when there is none or it did
    // not stop.
    bool Pause() {
        const pid_t thread = ThreadNamed("strimo-capture");
        if (thread <= 0 || syscall(SYS_tgkill, getpid(), thread, SIGUSR2) != 0) return false;
        pausing_ = true;
        return WaitFor([] { return paused_.load(); }, 5000ms, 1ms);
    }
    void Resume() {
        if (!pausing_) return;
        pausing_ = false;
        sem_post(&resume_);
        WaitFor([] { return !paused_.load(); }, 5000ms, 1ms);
    }

private:
    static pid_t ThreadNamed(const std::string& name) {
        std::error_code ec;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
            std::ifstream comm(task.path() / "comm");
            std::string line;
            if (std::getline(comm, line) && line == name) return std::stoi(task.path().filename().string());
        }
        return 0;
    }
    static void OnSignal(int) {
        paused_ = true;
        while (sem_wait(&resume_) != 0 && errno == EINTR) {
        }
        paused_ = false;
    }

    static inline sem_t resume_;
    static inline std::atomic<bool> paused_{false};
    struct sigaction previous_ {};
    bool pausing_ = false;
};

Rgb PixelOf(const PipeWireStream::Frame& f, int x, int y) {
    const unsigned char* px = f.pixels + static_cast<std::size_t>(y) * f.stride + x * 4;
    return f.layout == platform::PixelLayout::Bgrx ? Rgb{px[2], px[1], px[0]} : Rgb{px[0], px[1], px[2]};
}

// Every pixel of `frame` is the source's pattern from (`left`, `top`) of its buffer on.
void ExpectPattern(const PipeWireStream::Frame& frame, int left, int top, int marker) {
    int wrong = 0;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const Rgb got = PixelOf(frame, x, y), want = Colour(left + x, top + y, marker);
            if (got != want && wrong++ == 0)
                ADD_FAILURE() << "at " << x << "," << y << ": " << got.r << " " << got.g << " " << got.b
                              << " instead of " << want.r << " " << want.g << " " << want.b;
        }
    EXPECT_EQ(0, wrong) << "pixels that differ from the pattern";
}

class PipeWireStreamTest : public ::testing::Test {
protected:
    // Connects a stream of ours to `source` through a connection of our own to the daemon.
    std::unique_ptr<PipeWireStream> Receive(VideoSource& source, Pointer pointer) {
        const unsigned node = source.NodeId();
        EXPECT_NE(0u, node) << "the daemon made no node for the source";
        const int fd = ConnectToDaemon();
        EXPECT_GE(fd, 0) << "no PipeWire daemon at $XDG_RUNTIME_DIR/pipewire-0";
        std::string error;
        auto stream = PipeWireStream::Connect(fd, node, pointer, &error);
        EXPECT_TRUE(stream) << error;
        return stream;
    }

    // Sends `shot` until `seen` holds: the first ones go out while the link is still being made,
    // and a source that has no free buffer sends nothing.
    static bool SendUntil(VideoSource& source, const Shot& shot, const std::function<bool()>& seen) {
        return WaitFor(
            [&] {
                source.Send(shot);
                return WaitFor(seen, 200ms);
            },
            10000ms, 0ms);
    }

    // Sends `shot` until the stream has its picture, which lands in `frame`.
    static bool SendPicture(VideoSource& source, PipeWireStream& stream, const Shot& shot,
                            PipeWireStream::Frame* frame) {
        return SendUntil(source, shot, [&] {
            return stream.TakeNewest(frame) && frame->height > 0 && PixelOf(*frame, 0, 0).b == shot.marker;
        });
    }

    static bool PointerIs(PipeWireStream& stream, int x, int y) {
        int px = -1, py = -1;
        return stream.PointerAt(&px, &py) && px == x && py == y;
    }
};

struct FormatCase {
    const char* name;
    spa_video_format format;
    platform::PixelLayout layout;
    int width, height, stride;
    bool ownMemFd;
};

class PipeWireStreamFormatTest : public PipeWireStreamTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(PipeWireStreamFormatTest, ThePictureIsReadInItsOwnPixelOrderAndRows) {
    const FormatCase& c = GetParam();
    VideoSource source({c.format, c.width, c.height, c.stride, true, c.ownMemFd});
    auto stream = Receive(source, Pointer::InPicture);
    ASSERT_TRUE(stream);
    PipeWireStream::Frame frame;
    ASSERT_TRUE(SendPicture(source, *stream, {.marker = 7}, &frame)) << "no picture came";
    EXPECT_EQ(c.layout, frame.layout);
    EXPECT_EQ(c.width, frame.width);
    EXPECT_EQ(c.height, frame.height);
    EXPECT_GE(frame.stride, c.width * 4);
    ExpectPattern(frame, 0, 0, 7);
    EXPECT_EQ((platform::PictureSize{c.width, c.height}), stream->NewestSize());
    EXPECT_FALSE(stream->Broken());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PipeWireStreamFormatTest,
    ::testing::Values(
        FormatCase{"BGRx_MemFd", SPA_VIDEO_FORMAT_BGRx, platform::PixelLayout::Bgrx, 64, 48, 64 * 4, true},
        FormatCase{"RGBx_MemPtr", SPA_VIDEO_FORMAT_RGBx, platform::PixelLayout::Rgbx, 64, 48, 64 * 4, false},
        // Rows longer than the picture, and widths no multiple of 4.
        FormatCase{"BGRA_MemPtr_wide_rows", SPA_VIDEO_FORMAT_BGRA, platform::PixelLayout::Bgrx, 50, 30, 50 * 4 + 56,
                   false},
        FormatCase{"RGBA_MemFd_wide_rows", SPA_VIDEO_FORMAT_RGBA, platform::PixelLayout::Rgbx, 37, 21, 256, true}),
    [](const ::testing::TestParamInfo<FormatCase>& row) { return std::string(row.param.name); });

// A window stream: the desktop sends buffers of the whole monitor and the window's area as crop.
// The picture is the area, and the pointer is placed relative to it.
TEST_F(PipeWireStreamTest, TheCropIsThePictureAndThePointerIsPlacedInIt) {
    VideoSource source({SPA_VIDEO_FORMAT_BGRx, 160, 120, 160 * 4 + 64, true, /*ownMemFd=*/true});
    auto stream = Receive(source, Pointer::AsMetadata);
    ASSERT_TRUE(stream);
    auto capture = pipewire::GameCapturePortal::OfStream(std::move(stream));
    // The capture owns the stream now; it is read through the capture's interface as the sender does.
    Shot shot{.marker = 3, .crop = {{24, 16}, {100, 60}}, .cursorId = 1, .cursorX = 24 + 10, .cursorY = 16 + 20};
    platform::PictureSize size;
    ASSERT_TRUE(SendUntil(source, shot, [&] {
        return capture->Look(&size) == platform::IGameCapture::State::Shown && size.width > 0;
    })) << "no picture came";
    EXPECT_EQ((platform::PictureSize{100, 60}), size);
    platform::Picture picture;
    ASSERT_EQ(platform::IGameCapture::Result::Fresh, capture->Capture(100, 60, &picture));
    ExpectPattern({picture.pixels, picture.width, picture.height, picture.stride, picture.layout}, 24, 16, 3);
    int x = -1, y = -1;
    ASSERT_TRUE(capture->PointerAt(&x, &y));
    EXPECT_EQ(10, x);
    EXPECT_EQ(20, y);
    EXPECT_EQ(platform::IGameCapture::Result::Unchanged, capture->Capture(100, 60, &picture))
        << "nothing new was sent";

    // The pointer leaves the window's area, comes back to its last pixel, and is hidden.
    const struct {
        const char* where;
        uint32_t id;
        int x, y;
        bool over;
    } moves[] = {{"left of the area", 1, 10, 30, false},
                 {"below the area", 1, 30, 16 + 60, false},
                 {"the area's last pixel", 1, 24 + 99, 16 + 59, true},
                 {"hidden", 0, 24 + 10, 16 + 20, false}};
    for (const auto& m : moves) {
        SCOPED_TRACE(m.where);
        shot.marker++;
        shot.cursorId = m.id;
        shot.cursorX = m.x;
        shot.cursorY = m.y;
        ASSERT_TRUE(SendUntil(source, shot, [&] {
            return capture->Capture(100, 60, &picture) == platform::IGameCapture::Result::Fresh &&
                   PixelOf({picture.pixels, 100, 60, picture.stride, picture.layout}, 0, 0).b == shot.marker;
        }));
        EXPECT_EQ(m.over, capture->PointerAt(&x, &y));
        if (m.over) {
            EXPECT_EQ(m.x - 24, x);
            EXPECT_EQ(m.y - 16, y);
        }
    }
}

// Desktops send the pointer's moves in buffers without a picture, and may flag a picture as
// unusable; a crop may lie outside the buffer: nothing is read from those, and the last picture
// stands. The pointer moves all the
// same, and the last picture is handed out again as it came (the consumer drew its arrow into
// its copy), for the arrow to be drawn at the new place.
TEST_F(PipeWireStreamTest, BuffersWithoutAUsablePictureMoveOnlyThePointer) {
    VideoSource source({SPA_VIDEO_FORMAT_RGBx, 80, 60, 80 * 4});
    auto stream = Receive(source, Pointer::AsMetadata);
    ASSERT_TRUE(stream);
    PipeWireStream::Frame frame;
    ASSERT_TRUE(SendPicture(source, *stream, {.marker = 1, .cursorId = 1, .cursorX = 5, .cursorY = 6}, &frame));
    EXPECT_TRUE(PointerIs(*stream, 5, 6));
    // What the sender's arrow does to the picture it was given.
    const auto drawArrow = [&] { std::memset(frame.pixels, 0, static_cast<std::size_t>(frame.stride) * 8); };
    drawArrow();

    const struct {
        const char* what;
        Shot::Picture picture;
        uint32_t cursorId;
        spa_region crop;
    } damaged[] = {{"an empty chunk", Shot::Picture::EmptyChunk, 1, {}},
                   {"a chunk flagged corrupted", Shot::Picture::CorruptedChunk, 1, {}},
                   {"a header flagged corrupted", Shot::Picture::CorruptedHeader, 1, {}},
                   {"a crop past the buffer's edge", Shot::Picture::Whole, 1, {{40, 30}, {41, 20}}},
                   {"a crop whose end no int holds", Shot::Picture::Whole, 1, {{2147483600, 2147483600}, {100, 60}}},
                   {"an empty chunk that hides the pointer", Shot::Picture::EmptyChunk, 0, {}}};
    int place = 10;
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.what);
        place += 10;
        const Shot shot{.marker = 90 + place, .picture = d.picture, .crop = d.crop, .cursorId = d.cursorId,
                        .cursorX = place, .cursorY = place / 2};
        ASSERT_TRUE(SendUntil(source, shot, [&] {
            int x = -1, y = -1;
            return d.cursorId != 0 ? PointerIs(*stream, place, place / 2) : !stream->PointerAt(&x, &y);
        })) << "the pointer did not move";
        ASSERT_TRUE(WaitFor([&] { return stream->TakeNewest(&frame); }, 5000ms))
            << "the picture was not handed out again for the moved pointer";
        ExpectPattern(frame, 0, 0, 1);
        drawArrow();
        EXPECT_FALSE(stream->Broken());
    }
    ASSERT_TRUE(SendPicture(source, *stream, {.marker = 2}, &frame)) << "pictures stopped after the damaged ones";
    ExpectPattern(frame, 0, 0, 2);
}

// A new picture and, right behind it, a buffer with only the pointer in it, found together in
// the stream's queue (its thread was busy): the picture is the one handed out, and the pointer is
// the newest buffer's. A still game (a menu, a pause screen) otherwise shows the picture before
// until it changes.
TEST_F(PipeWireStreamTest, APictureQueuedBeforeAPointerOnlyBufferIsNotLost) {
    const struct {
        const char* what;
        Pointer pointer;
        uint32_t cursorId;
        int x, y;
    } cases[] = {{"the pointer moves", Pointer::AsMetadata, 1, 30, 20},
                 {"the pointer stays", Pointer::AsMetadata, 1, 5, 6},
                 {"the pointer hides", Pointer::AsMetadata, 0, 5, 6},
                 {"the desktop draws the pointer", Pointer::InPicture, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VideoSource source({SPA_VIDEO_FORMAT_BGRx, 64, 48, 64 * 4});
        auto stream = Receive(source, c.pointer);
        ASSERT_TRUE(stream);
        PipeWireStream::Frame frame;
        const Shot first{.marker = 1, .cursorId = 1, .cursorX = 5, .cursorY = 6};
        ASSERT_TRUE(SendPicture(source, *stream, first, &frame)) << "no picture came";

        StreamThreadPause pause;
        ASSERT_TRUE(pause.Pause()) << "the stream's thread did not stop";
        // Each in a cycle of its own: a buffer the stream has not received when the next one
        // comes is replaced by it.
        const int marker = 2;
        ASSERT_TRUE(source.SendInACycle({.marker = marker, .cursorId = 1, .cursorX = 5, .cursorY = 6}));
        ASSERT_TRUE(source.SendInACycle({.marker = 3, .picture = Shot::Picture::EmptyChunk, .cursorId = c.cursorId,
                                         .cursorX = c.x, .cursorY = c.y}));
        // The stream, held still, gave none back.
        EXPECT_EQ(source.Buffers() - 2, source.FreeBuffers()) << "the two buffers are not both in the stream's queue";
        pause.Resume();

        ASSERT_TRUE(WaitFor([&] { return stream->TakeNewest(&frame); }, 5000ms))
            << "no picture was handed out after the two buffers";
        ExpectPattern(frame, 0, 0, marker);
        int x = -1, y = -1;
        if (c.pointer == Pointer::AsMetadata && c.cursorId != 0) {
            EXPECT_TRUE(PointerIs(*stream, c.x, c.y));
        } else {
            EXPECT_FALSE(stream->PointerAt(&x, &y));
        }
        EXPECT_FALSE(stream->TakeNewest(&frame)) << "a picture was handed out twice";
    }
}

// Where the desktop draws the pointer itself, its metadata is not asked for and nothing else
// draws one; where the desktop's buffers have no room for it, the picture still comes.
TEST_F(PipeWireStreamTest, WithoutPointerMetadataThePictureComesAndNoPointer) {
    const struct {
        const char* what;
        bool sourceCursorMeta;
        Pointer pointer;
    } cases[] = {{"the desktop draws the pointer", true, Pointer::InPicture},
                 {"the desktop's buffers have no room for the pointer", false, Pointer::AsMetadata}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VideoSource source({SPA_VIDEO_FORMAT_BGRx, 64, 48, 64 * 4, c.sourceCursorMeta});
        auto stream = Receive(source, c.pointer);
        ASSERT_TRUE(stream);
        PipeWireStream::Frame frame;
        ASSERT_TRUE(SendPicture(source, *stream, {.marker = 4, .cursorId = 1, .cursorX = 5, .cursorY = 6}, &frame))
            << "no picture came";
        ExpectPattern(frame, 0, 0, 4);
        int x, y;
        EXPECT_FALSE(stream->PointerAt(&x, &y));
    }
}

// The shared window is resized: the newest size is the new one, and the capture says so before
// it hands out a picture of the old size.
TEST_F(PipeWireStreamTest, ANewSizeIsTheNewestSize) {
    VideoSource source({SPA_VIDEO_FORMAT_BGRx, 64, 48, 64 * 4, true, /*ownMemFd=*/true});
    auto stream = Receive(source, Pointer::InPicture);
    ASSERT_TRUE(stream);
    PipeWireStream& s = *stream;
    auto capture = pipewire::GameCapturePortal::OfStream(std::move(stream));
    PipeWireStream::Frame frame;
    ASSERT_TRUE(SendUntil(source, {.marker = 1}, [&] { return s.NewestSize() == platform::PictureSize{64, 48}; }));
    platform::PictureSize size;
    ASSERT_EQ(platform::IGameCapture::State::Shown, capture->Look(&size));
    EXPECT_EQ((platform::PictureSize{64, 48}), size);

    const struct {
        int width, height, stride;
    } sizes[] = {{96, 72, 96 * 4 + 32}, {40, 30, 40 * 4}};
    int marker = 1;
    for (const auto& n : sizes) {
        SCOPED_TRACE(std::to_string(n.width) + "x" + std::to_string(n.height));
        source.Resize(n.width, n.height, n.stride);
        ++marker;
        // The new size is the newest once the link agrees on it, before any picture of it: a
        // producer may send none (KWin 5.27 does so after a resize), and the broadcast would
        // freeze unnoticed.
        ASSERT_TRUE(WaitFor([&] { return s.NewestSize() == platform::PictureSize{n.width, n.height}; }, 5000ms))
            << "the new size did not come";
        ASSERT_EQ(platform::IGameCapture::State::Shown, capture->Look(&size));
        EXPECT_EQ((platform::PictureSize{n.width, n.height}), size);
        platform::Picture picture;
        const auto asStarted = [&] { return PipeWireStream::Frame{picture.pixels, 64, 48, picture.stride, picture.layout}; };
        // The sender still asks for the size it started with.
        if (n.width >= 64) {
            ASSERT_TRUE(SendUntil(source, {.marker = marker}, [&] {
                return capture->Capture(64, 48, &picture) == platform::IGameCapture::Result::Fresh &&
                       PixelOf(asStarted(), 0, 0).b == marker;
            })) << "no picture of the new size";
            ExpectPattern(asStarted(), 0, 0, marker);
        } else {
            EXPECT_TRUE(SendUntil(source, {.marker = marker}, [&] {
                return capture->Capture(64, 48, &picture) == platform::IGameCapture::Result::Failed;
            })) << "a smaller picture read past its end";
        }
    }
}

// The shared window is closed: its node goes away, and the capture says the game is gone. The
// stream is not linked to another video source of the desktop (a camera, another screencast).
TEST_F(PipeWireStreamTest, TheSourceGoingAwayBreaksTheStream) {
    VideoSource other({SPA_VIDEO_FORMAT_BGRx, 64, 48, 64 * 4});
    VideoSource source({SPA_VIDEO_FORMAT_BGRx, 64, 48, 64 * 4});
    ASSERT_NE(0u, other.NodeId());
    auto stream = Receive(source, Pointer::InPicture);
    ASSERT_TRUE(stream);
    PipeWireStream& s = *stream;
    auto capture = pipewire::GameCapturePortal::OfStream(std::move(stream));
    PipeWireStream::Frame frame;
    ASSERT_TRUE(SendPicture(source, s, {.marker = 1}, &frame));
    EXPECT_FALSE(s.Broken());
    source.Disconnect();
    EXPECT_TRUE(WaitFor([&] { return s.Broken(); }, 5000ms)) << "the stream did not notice";
    EXPECT_FALSE(s.BrokenWhy().empty());
    platform::PictureSize size;
    EXPECT_EQ(platform::IGameCapture::State::Gone, capture->Look(&size));
    // Where the session manager links it anew, the other source's pictures come within a few
    // of its buffers.
    const auto othersPicture = [&] { return s.TakeNewest(&frame) && PixelOf(frame, 0, 0).b == 50; };
    EXPECT_FALSE(WaitFor([&] { other.Send({.marker = 50}); return othersPicture(); }, 2000ms, 20ms))
        << "the stream was linked to another source";
}

}  // namespace
