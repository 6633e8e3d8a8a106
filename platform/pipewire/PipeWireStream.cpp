#include "PipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/utils/result.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace pipewire {

struct PipeWireStream::Listeners {
    pw_stream_events streamEvents{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    spa_hook stream{};
    spa_hook core{};
    spa_hook registry{};

    static void OnStateChanged(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void OnParamChanged(void* self, uint32_t id, const spa_pod* param);
    static void OnProcess(void* self);
    static void OnCoreError(void* self, uint32_t id, int seq, int res, const char* message);
    static void OnGlobalRemoved(void* self, uint32_t id);
    // Where the picture of `buffer` lies in its memory, in pixels and bytes a row.
    struct Area {
        long long x = 0, y = 0, width = 0, height = 0, stride = 0;
    };
    // Whether `buffer` holds a picture we can read (not empty, not flagged corrupted, its crop
    // inside the picture and the picture inside the memory), and where.
    static bool HoldsPicture(const PipeWireStream* s, spa_buffer* buffer, Area* area);
    // Copies the picture of `buffer` into the back slot; false when it holds none we can read.
    static bool CopyPicture(PipeWireStream* s, spa_buffer* buffer);
};

namespace {

// The producer's buffers: each goes back as soon as it is copied.
constexpr int kBuffersWanted = 4;

// Producers write the cursor's bitmap after its position and want room for one: a 64×64 arrow
// is what desktops draw, and up to 256×256 is taken.
constexpr int CursorMetaSize(int side) {
    return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + side * side * 4;
}

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

std::unique_ptr<PipeWireStream> PipeWireStream::Connect(int fd, unsigned nodeId, Pointer pointer, std::string* error) {
    InitOnce();
    std::unique_ptr<PipeWireStream> s(new PipeWireStream());
    s->pointer_ = pointer;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return nullptr;
    };
    s->listeners_ = std::make_unique<Listeners>();
    s->loop_ = pw_thread_loop_new("strimo-capture", nullptr);
    if (s->loop_ == nullptr) {
        ::close(fd);
        return fail("cannot make a PipeWire thread loop");
    }
    s->context_ = pw_context_new(pw_thread_loop_get_loop(s->loop_), nullptr, 0);
    if (s->context_ == nullptr || pw_thread_loop_start(s->loop_) < 0) {
        ::close(fd);
        return fail("cannot start PipeWire's loop");
    }
    pw_thread_loop_lock(s->loop_);
    // The remote takes the descriptor over, failing or not.
    s->core_ = pw_context_connect_fd(s->context_, fd, nullptr, 0);
    if (s->core_ == nullptr) {
        pw_thread_loop_unlock(s->loop_);
        return fail(std::string("cannot connect to the portal's PipeWire remote: ") + std::strerror(errno));
    }
    Listeners& l = *s->listeners_;
    l.coreEvents.version = PW_VERSION_CORE_EVENTS;
    l.coreEvents.error = &Listeners::OnCoreError;
    pw_core_add_listener(s->core_, &l.core, &l.coreEvents, s.get());
    s->nodeId_ = nodeId;
    s->registry_ = pw_core_get_registry(s->core_, PW_VERSION_REGISTRY, 0);
    if (s->registry_ == nullptr) {
        pw_thread_loop_unlock(s->loop_);
        return fail("cannot watch the PipeWire remote's nodes");
    }
    l.registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    l.registryEvents.global_remove = &Listeners::OnGlobalRemoved;
    pw_registry_add_listener(s->registry_, &l.registry, &l.registryEvents, s.get());

    s->stream_ = pw_stream_new(s->core_, "STRIMO直播",
                               pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                 PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (s->stream_ == nullptr) {
        pw_thread_loop_unlock(s->loop_);
        return fail("cannot make a PipeWire stream");
    }
    l.streamEvents.version = PW_VERSION_STREAM_EVENTS;
    l.streamEvents.state_changed = &Listeners::OnStateChanged;
    l.streamEvents.param_changed = &Listeners::OnParamChanged;
    l.streamEvents.process = &Listeners::OnProcess;
    pw_stream_add_listener(s->stream_, &l.stream, &l.streamEvents, s.get());

    // Any size and rate; the formats our converter reads as they are. Once the shared node goes,
    // the session manager would link the stream to whatever other video source it finds (a
    // camera, another screencast): never.
    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_rectangle defaultSize{1280, 720}, minSize{1, 1}, maxSize{16384, 16384};
    const spa_fraction defaultRate{0, 1}, minRate{0, 1}, maxRate{1000, 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_DONT_RECONNECT);
    const int connected = pw_stream_connect(s->stream_, PW_DIRECTION_INPUT, nodeId, flags, params, 1);
    pw_thread_loop_unlock(s->loop_);
    if (connected < 0) return fail(std::string("cannot connect to the shared node: ") + spa_strerror(connected));
    return s;
}

PipeWireStream::~PipeWireStream() {
    if (loop_ != nullptr) {
        pw_thread_loop_lock(loop_);
        if (stream_ != nullptr) {
            spa_hook_remove(&listeners_->stream);
            pw_stream_disconnect(stream_);
            pw_stream_destroy(stream_);  // frees the buffers we held too
        }
        if (registry_ != nullptr) {
            spa_hook_remove(&listeners_->registry);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
        }
        if (core_ != nullptr) {
            spa_hook_remove(&listeners_->core);
            pw_core_disconnect(core_);
        }
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_stop(loop_);
    }
    if (context_ != nullptr) pw_context_destroy(context_);
    if (loop_ != nullptr) pw_thread_loop_destroy(loop_);
}

void PipeWireStream::Break(const std::string& why) {
    {
        std::lock_guard lock(mutex_);
        if (!broken_) brokenWhy_ = why;
        broken_ = true;
    }
    arrived_.notify_all();
}

void PipeWireStream::Listeners::OnCoreError(void* self, uint32_t id, int, int res, const char* message) {
    if (id == PW_ID_CORE)
        static_cast<PipeWireStream*>(self)->Break(std::string("the PipeWire remote failed: ") +
                                                  (message != nullptr ? message : spa_strerror(res)));
}

void PipeWireStream::Listeners::OnGlobalRemoved(void* self, uint32_t id) {
    auto* s = static_cast<PipeWireStream*>(self);
    if (id == s->nodeId_) s->Break("the shared node went away");
}

void PipeWireStream::Listeners::OnStateChanged(void* self, pw_stream_state, pw_stream_state state, const char* error) {
    auto* s = static_cast<PipeWireStream*>(self);
    if (state == PW_STREAM_STATE_ERROR)
        s->Break(std::string("the stream failed: ") + (error != nullptr ? error : "no reason given"));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        s->Break("the shared node went away");
}

void PipeWireStream::Listeners::OnParamChanged(void* self, uint32_t id, const spa_pod* param) {
    auto* s = static_cast<PipeWireStream*>(self);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    s->layout_ = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA ? platform::PixelLayout::Rgbx
                                                                                               : platform::PixelLayout::Bgrx;
    const platform::PictureSize agreed{static_cast<int>(info.size.width), static_cast<int>(info.size.height)};
    // A window stream that is the window agrees on a new size when the window is resized. Some
    // producers (KWin 5.27) then send no frame at all: the new size is the newest all the same,
    // so that the capture sees the change instead of the last picture standing for ever.
    if (s->uncropped_ && agreed != platform::PictureSize{s->formatWidth_, s->formatHeight_}) {
        std::lock_guard lock(s->mutex_);
        s->newestSize_ = agreed;
    }
    s->formatWidth_ = agreed.width;
    s->formatHeight_ = agreed.height;

    // Shared memory only, and the crop and header metadata (and the pointer's where asked).
    uint8_t storage[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
    const spa_pod* params[4];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(kBuffersWanted, 2, 16), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    uint32_t count = 3;
    if (s->pointer_ == Pointer::AsMetadata)
        params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
            SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(64), CursorMetaSize(1), CursorMetaSize(256))));
    pw_stream_update_params(s->stream_, params, count);
}

void PipeWireStream::Listeners::OnProcess(void* self) {
    auto* s = static_cast<PipeWireStream*>(self);
    // Only the newest picture matters, and the newest pointer. Desktops send the pointer's moves
    // in buffers of their own, with an empty picture, so the newest buffer may hold no picture
    // while one queued before it does: that one is copied, the others go straight back.
    pw_buffer* newest = nullptr;
    pw_buffer* picture = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream_)) {
        if (newest != nullptr && newest != picture) pw_stream_queue_buffer(s->stream_, newest);
        if (HoldsPicture(s, b->buffer, nullptr)) {
            if (picture != nullptr) pw_stream_queue_buffer(s->stream_, picture);
            picture = b;
        }
        newest = b;
    }
    if (newest == nullptr) return;
    const bool copied = picture != nullptr && CopyPicture(s, picture->buffer);
    if (picture != nullptr && picture != newest) pw_stream_queue_buffer(s->stream_, picture);
    const auto* cursor = s->pointer_ == Pointer::AsMetadata
                             ? static_cast<const spa_meta_cursor*>(
                                   spa_buffer_find_meta_data(newest->buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)))
                             : nullptr;
    const bool pointerShown = cursor != nullptr && spa_meta_cursor_is_valid(cursor);
    const int pointerX = pointerShown ? cursor->position.x - s->cropX_ : 0;
    const int pointerY = pointerShown ? cursor->position.y - s->cropY_ : 0;
    // The buffer goes back at once, whatever it held.
    pw_stream_queue_buffer(s->stream_, newest);

    // This thread alone writes the pointer and the pictures: it reads them without the lock.
    const bool moved = cursor != nullptr && (pointerShown != s->pointerShown_ ||
                                             (pointerShown && (pointerX != s->pointerX_ || pointerY != s->pointerY_)));
    // The pointer moved over a still picture. The consumer drew its arrow into its copy of the
    // last picture, so that picture goes out again as it came, for the arrow to be drawn anew;
    // one that is still waiting to be taken gets the newest pointer anyway.
    bool again = false;
    if (!copied && moved && s->anyFrame_) {
        std::lock_guard lock(s->mutex_);
        again = !s->hasPending_;
    }
    if (again) {
        Slot& slot = s->slots_[s->back_];
        slot.pixels.assign(s->clean_.pixels.begin(), s->clean_.pixels.end());
        slot.frame = s->clean_.frame;
        slot.frame.pixels = slot.pixels.data();
    } else if (copied && s->pointer_ == Pointer::AsMetadata) {
        const Slot& slot = s->slots_[s->back_];
        s->clean_.pixels.assign(slot.pixels.begin(), slot.pixels.end());
        s->clean_.frame = slot.frame;
    }
    {
        std::lock_guard lock(s->mutex_);
        if (cursor != nullptr) {
            s->pointerShown_ = pointerShown;
            s->pointerX_ = pointerX;
            s->pointerY_ = pointerY;
        }
        if (!copied && !again) return;  // a corrupted or empty one: the last picture stands
        std::swap(s->back_, s->pending_);
        s->hasPending_ = true;
        s->newestSize_ = {s->slots_[s->pending_].frame.width, s->slots_[s->pending_].frame.height};
        s->anyFrame_ = true;
    }
    s->arrived_.notify_all();
}

bool PipeWireStream::Listeners::HoldsPicture(const PipeWireStream* s, spa_buffer* buffer, Area* area) {
    const auto* header =
        static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    const spa_data* data = buffer->n_datas > 0 ? &buffer->datas[0] : nullptr;
    if (data == nullptr || data->data == nullptr || data->chunk == nullptr || data->chunk->size == 0 ||
        (data->chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0 ||
        (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0))
        return false;
    const long long stride = data->chunk->stride > 0 ? data->chunk->stride : s->formatWidth_ * 4LL;
    long long x = 0, y = 0, w = s->formatWidth_, h = s->formatHeight_;
    const auto* crop =
        static_cast<const spa_meta_region*>(spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
    if (crop != nullptr && spa_meta_region_is_valid(crop)) {
        x = crop->region.position.x;
        y = crop->region.position.y;
        w = crop->region.size.width;
        h = crop->region.size.height;
    }
    // The crop must lie inside the picture and the picture inside the mapped memory.
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > s->formatWidth_ || y + h > s->formatHeight_ ||
        stride < s->formatWidth_ * 4LL ||
        data->chunk->offset + (y + h - 1) * stride + (x + w) * 4 > static_cast<long long>(data->maxsize))
        return false;
    if (area != nullptr) *area = {x, y, w, h, stride};
    return true;
}

bool PipeWireStream::Listeners::CopyPicture(PipeWireStream* s, spa_buffer* buffer) {
    Area area;
    if (!HoldsPicture(s, buffer, &area)) return false;
    const spa_data* data = &buffer->datas[0];
    const long long x = area.x, y = area.y, w = area.width, h = area.height, stride = area.stride;
    Slot& slot = s->slots_[s->back_];
    const std::size_t row = static_cast<std::size_t>(w) * 4;
    // Made anew only when the size changes.
    if (slot.pixels.size() != row * static_cast<std::size_t>(h)) slot.pixels.assign(row * h, 0);
    const auto* from = static_cast<const unsigned char*>(data->data) + data->chunk->offset + y * stride + x * 4;
    for (long long r = 0; r < h; ++r) std::memcpy(slot.pixels.data() + r * row, from + r * stride, row);
    slot.frame = {slot.pixels.data(), static_cast<int>(w), static_cast<int>(h), static_cast<int>(row), s->layout_};
    s->cropX_ = static_cast<int>(x);
    s->cropY_ = static_cast<int>(y);
    s->uncropped_ = x == 0 && y == 0 && w == s->formatWidth_ && h == s->formatHeight_;
    return true;
}

bool PipeWireStream::WaitFirstFrame(int ms) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return anyFrame_ || broken_; });
    return anyFrame_;
}

bool PipeWireStream::TakeNewest(Frame* frame) {
    std::lock_guard lock(mutex_);
    if (!hasPending_) return false;
    std::swap(front_, pending_);
    hasPending_ = false;
    *frame = slots_[front_].frame;
    return true;
}

platform::PictureSize PipeWireStream::NewestSize() const {
    std::lock_guard lock(mutex_);
    return newestSize_;
}

bool PipeWireStream::PointerAt(int* x, int* y) const {
    std::lock_guard lock(mutex_);
    if (!pointerShown_ || pointerX_ < 0 || pointerY_ < 0 || pointerX_ >= newestSize_.width ||
        pointerY_ >= newestSize_.height)
        return false;
    *x = pointerX_;
    *y = pointerY_;
    return true;
}

}  // namespace pipewire
