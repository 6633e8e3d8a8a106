#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GameCapture.h"

struct pw_context;
struct pw_core;
struct pw_registry;
struct pw_stream;
struct pw_thread_loop;

namespace pipewire {

// One video stream from a PipeWire node (what the ScreenCast portal shares), received on a
// thread loop of PipeWire's own. Shared-memory buffers only (MemFd, MemPtr) in BGRx, BGRA,
// RGBx or RGBA: without a GPU to map them, DMA-BUFs are never offered. Frames arrive only
// when the picture changes. PipeWire's thread copies the newest picture (its cropped area: GNOME
// sends monitor-sized buffers and the window's area as crop metadata) into one of three
// pictures of ours and gives the buffer straight back; the consumer takes the newest picture
// from there. The producer may unmap its buffers at any moment (a new format, the window
// closed) while the encoder still reads the picture of an earlier tick, so that picture must
// be ours: one copy per changed picture, none per tick.
//
// Where the desktop reports the pointer beside the picture (the portal's metadata cursor
// mode) rather than drawing it, the stream asks for the cursor metadata and keeps the newest
// position, which moves with every buffer, a picture in it or not: of buffers queued together,
// the picture comes from the newest that holds one and the pointer from the newest. When the
// pointer moves over a still picture, that picture is handed out again, clean, for the consumer
// to draw its arrow anew.
class PipeWireStream {
public:
    // A taken frame, valid until the next TakeNewest that answers true; it may be drawn into.
    struct Frame {
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        int stride = 0;
        platform::PixelLayout layout = platform::PixelLayout::Bgrx;
    };

    // What the stream asks of its producer besides the picture.
    enum class Pointer {
        InPicture,    // drawn into the picture by the producer, or left out: nothing to read
        AsMetadata,   // reported beside the picture: PointerAt answers it
    };

    // Connects to `nodeId` on the remote behind `fd` (taken over, closed in every case). Null
    // with `error` set when PipeWire refuses.
    static std::unique_ptr<PipeWireStream> Connect(int fd, unsigned nodeId, Pointer pointer, std::string* error);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Waits up to `ms` for the first frame (or a failure); true once one is there.
    bool WaitFirstFrame(int ms);
    // The newest frame, when one arrived since the last call that answered true.
    bool TakeNewest(Frame* frame);
    // The size of the newest frame that arrived (taken or not).
    platform::PictureSize NewestSize() const;
    // Where the pointer is now, relative to the top left of the newest frame; false when it is
    // hidden, outside that frame or not reported.
    bool PointerAt(int* x, int* y) const;
    // The stream failed or ended (the node was removed, the remote went away); for good.
    bool Broken() const { return broken_.load(); }
    const std::string& BrokenWhy() const { return brokenWhy_; }

private:
    PipeWireStream() = default;
    void Break(const std::string& why);

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    // Tells when the shared node goes away: the stream itself only pauses then.
    pw_registry* registry_ = nullptr;
    unsigned nodeId_ = 0;
    // PipeWire's callbacks and their hooks.
    struct Listeners;
    std::unique_ptr<Listeners> listeners_;

    // Negotiated on PipeWire's thread.
    platform::PixelLayout layout_ = platform::PixelLayout::Bgrx;
    int formatWidth_ = 0;
    int formatHeight_ = 0;
    // Where the newest frame's crop lies in the producer's buffers: the pointer is reported in
    // theirs.
    int cropX_ = 0;
    int cropY_ = 0;
    // The newest frame was the whole negotiated picture, not a crop of it.
    bool uncropped_ = false;
    Pointer pointer_ = Pointer::InPicture;

    // Three pictures: PipeWire's thread writes the back one, the consumer reads the front one,
    // and they trade through the pending one under the lock.
    struct Slot {
        std::vector<unsigned char> pixels;
        Frame frame;
    };
    Slot slots_[3];
    // The newest picture as it came, where the consumer draws the pointer into its copies.
    Slot clean_;
    int back_ = 0;
    int pending_ = 1;
    int front_ = 2;
    bool hasPending_ = false;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    platform::PictureSize newestSize_;
    bool anyFrame_ = false;
    bool pointerShown_ = false;
    int pointerX_ = 0;
    int pointerY_ = 0;
    std::atomic<bool> broken_{false};
    std::string brokenWhy_;
};

}  // namespace pipewire
