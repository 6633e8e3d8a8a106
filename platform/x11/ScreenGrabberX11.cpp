#include "ScreenGrabberX11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

#include "XDisplayRetry.h"
#include "XErrorTrap.h"

namespace x11 {

// Outside the anonymous namespace: the grabber's shared image below holds one.
struct ImageDestroy {
    void operator()(XImage* image) const {
        if (image != nullptr) XDestroyImage(image);
    }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroy>;

namespace {

int MaskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// The server's pixels are already blue, green, red, unused. An image of a pixmap carries no
// visual and so no masks; on a little-endian 32-bit server its layout is the same.
bool IsBgrx(const XImage* image) {
    if (image->bits_per_pixel != 32 || image->byte_order != LSBFirst) return false;
    if (image->red_mask == 0 && image->green_mask == 0 && image->blue_mask == 0) return true;
    return image->red_mask == 0xff0000 && image->green_mask == 0xff00 && image->blue_mask == 0xff;
}

// Copies `image` into 32-bit rows at (dx, dy) of `out`.
void ToBgrx(XImage* image, int width, int rows, unsigned char* out, int stride, int dx, int dy) {
    if (IsBgrx(image)) {
        for (int y = 0; y < rows; ++y)
            std::memcpy(out + static_cast<long>(dy + y) * stride + dx * 4,
                        image->data + static_cast<long>(y) * image->bytes_per_line, static_cast<size_t>(width) * 4);
        return;
    }
    // Other visuals (16-bit, big-endian servers): slow but exact.
    const int rs = MaskShift(image->red_mask), gs = MaskShift(image->green_mask), bs = MaskShift(image->blue_mask);
    const unsigned long rm = image->red_mask >> rs, gm = image->green_mask >> gs, bm = image->blue_mask >> bs;
    for (int y = 0; y < rows; ++y) {
        unsigned char* dst = out + static_cast<long>(dy + y) * stride + dx * 4;
        for (int x = 0; x < width; ++x, dst += 4) {
            const unsigned long p = XGetPixel(image, x, y);
            dst[0] = static_cast<unsigned char>(bm ? ((p >> bs) & bm) * 255 / bm : 0);
            dst[1] = static_cast<unsigned char>(gm ? ((p >> gs) & gm) * 255 / gm : 0);
            dst[2] = static_cast<unsigned char>(rm ? ((p >> rs) & rm) * 255 / rm : 0);
            dst[3] = 0;
        }
    }
}

}  // namespace

// One shared image of 32-bit pixels: the server writes into it and the encoder reads from it.
struct ScreenGrabberX11::Shm {
    Display* display = nullptr;
    XShmSegmentInfo info{};
    ImagePtr image;
    bool attached = false;

    ~Shm() {
        if (attached) {
            XShmDetach(display, &info);
            XSync(display, False);
        }
        if (image) image->data = nullptr;  // the segment is not Xlib's to free
        image.reset();
        if (info.shmaddr != nullptr && info.shmaddr != reinterpret_cast<char*>(-1)) shmdt(info.shmaddr);
    }
};

std::unique_ptr<ScreenGrabberX11> ScreenGrabberX11::Create() {
    DisplayPtr display = OpenDisplayRetrying();
    if (!display) return nullptr;
    return std::unique_ptr<ScreenGrabberX11>(new ScreenGrabberX11(std::move(display)));
}

ScreenGrabberX11::ScreenGrabberX11(DisplayPtr display) : display_(std::move(display)) {
    Display* d = display_.get();
    shmAvailable_ = XShmQueryExtension(d) != 0;
    int eventBase = 0, errorBase = 0, major = 0, minor = 2;
    // Naming a window's pixmap came with version 0.2.
    compositeAvailable_ = XCompositeQueryExtension(d, &eventBase, &errorBase) != 0 &&
                          XCompositeQueryVersion(d, &major, &minor) != 0 && (major > 0 || minor >= 2);
}

ScreenGrabberX11::~ScreenGrabberX11() {
    Forget();
    shm_.reset();
}

void ScreenGrabberX11::DisableShm() {
    shmAvailable_ = false;
    shm_.reset();
}

void ScreenGrabberX11::DisableComposite() {
    Forget();
    compositeAvailable_ = false;
}

void ScreenGrabberX11::Forget() {
    Display* d = display_.get();
    XErrorTrap trap(d);
    if (pixmap_ != 0) XFreePixmap(d, pixmap_);
    if (window_ != 0) {
        XSelectInput(d, window_, NoEventMask);
        if (redirected_) XCompositeUnredirectWindow(d, window_, CompositeRedirectAutomatic);
    }
    trap.GetLastErrorAndDisable();  // the window may be gone already
    pixmap_ = 0;
    window_ = 0;
    redirected_ = false;
    needName_ = true;
}

void ScreenGrabberX11::Follow(platform::WindowId window) {
    if (window == window_) return;
    Forget();
    window_ = window;
    if (!compositeAvailable_ || window == 0) return;
    Display* d = display_.get();
    XErrorTrap trap(d);
    // Map, size and parent changes say when the window's pixmap has to be named again.
    XSelectInput(d, window, StructureNotifyMask);
    // Automatic redirection: the server keeps drawing the window on the screen as before, and
    // its contents stay in a pixmap of their own even where other windows cover it. The
    // window itself is redirected, not its parent's subwindows: under a reparenting window
    // manager only the client window (inside the frame) holds the game's picture.
    XCompositeRedirectWindow(d, window, CompositeRedirectAutomatic);
    redirected_ = trap.GetLastErrorAndDisable() == 0;
    needName_ = true;
}

void ScreenGrabberX11::ReadEvents() {
    Display* d = display_.get();
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (event.xany.window != window_) continue;
        switch (event.type) {
        case ConfigureNotify:
            // A move alone keeps the pixmap; a new size or border gets a new one.
            if (event.xconfigure.width != clientWidth_ || event.xconfigure.height != clientHeight_ ||
                event.xconfigure.border_width != border_)
                needName_ = true;
            break;
        case MapNotify:
        case ReparentNotify:
            needName_ = true;
            break;
        default:
            break;
        }
    }
}

bool ScreenGrabberX11::NamePixmap() {
    Display* d = display_.get();
    XErrorTrap trap(d);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(d, window_, &attributes) == 0 || attributes.map_state != IsViewable) {
        trap.GetLastErrorAndDisable();
        return false;  // an unmapped window has no pixmap to name
    }
    const Pixmap pixmap = XCompositeNameWindowPixmap(d, window_);
    if (trap.GetLastErrorAndDisable() != 0 || pixmap == 0) return false;
    if (pixmap_ != 0) XFreePixmap(d, pixmap_);
    pixmap_ = pixmap;
    pixmapDepth_ = attributes.depth;
    border_ = attributes.border_width;
    clientWidth_ = attributes.width;
    clientHeight_ = attributes.height;
    needName_ = false;
    return true;
}

platform::Picture ScreenGrabberX11::Converted(int width, int rows, bool clear) {
    const size_t bytes = static_cast<size_t>(width) * rows * 4;
    if (converted_.size() != bytes)
        converted_.assign(bytes, 0);
    else if (clear)
        std::fill(converted_.begin(), converted_.end(), 0);
    return {converted_.data(), width, rows, width * 4, platform::PixelLayout::Bgrx};
}

bool ScreenGrabberX11::ShmRead(unsigned long drawable, int x, int y, int width, int rows, platform::Picture* picture) {
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    if (!shm_ || shm_->image->width != width || shm_->image->height != rows) {
        shm_.reset();
        auto shm = std::make_unique<Shm>();
        shm->display = d;
        shm->image.reset(XShmCreateImage(d, DefaultVisual(d, screen), static_cast<unsigned>(DefaultDepth(d, screen)),
                                         ZPixmap, nullptr, &shm->info, static_cast<unsigned>(width),
                                         static_cast<unsigned>(rows)));
        if (!shm->image || !IsBgrx(shm->image.get())) {
            shmAvailable_ = false;  // a layout the encoder does not read: the plain path converts
            return false;
        }
        shm->info.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(shm->image->bytes_per_line) * rows, IPC_CREAT | 0600);
        if (shm->info.shmid < 0) return false;
        shm->info.shmaddr = static_cast<char*>(shmat(shm->info.shmid, nullptr, 0));
        // Marked for removal now: it disappears with its last user, even if we crash.
        shmctl(shm->info.shmid, IPC_RMID, nullptr);
        if (shm->info.shmaddr == reinterpret_cast<char*>(-1)) return false;
        shm->image->data = shm->info.shmaddr;
        shm->info.readOnly = False;
        XErrorTrap trap(d);
        shm->attached = XShmAttach(d, &shm->info) != 0;
        if (trap.GetLastErrorAndDisable() != 0) shm->attached = false;
        if (!shm->attached) {
            // A remote server or one that refuses the segment: stay on XGetImage from now on.
            shmAvailable_ = false;
            return false;
        }
        shm_ = std::move(shm);
    }
    XErrorTrap trap(d);
    const Bool ok = XShmGetImage(d, drawable, shm_->image.get(), x, y, AllPlanes);
    if (trap.GetLastErrorAndDisable() != 0 || !ok) return false;
    *picture = {reinterpret_cast<unsigned char*>(shm_->image->data), width, rows, shm_->image->bytes_per_line,
                platform::PixelLayout::Bgrx};
    return true;
}

bool ScreenGrabberX11::PlainRead(unsigned long drawable, int x, int y, int width, int rows, int dx, int dy,
                                 platform::Picture* picture) {
    Display* d = display_.get();
    XErrorTrap trap(d);
    ImagePtr image(XGetImage(d, drawable, x, y, static_cast<unsigned>(width), static_cast<unsigned>(rows), AllPlanes,
                             ZPixmap));
    if (trap.GetLastErrorAndDisable() != 0 || !image) return false;
    ToBgrx(image.get(), width, rows, picture->pixels, picture->stride, dx, dy);
    return true;
}

bool ScreenGrabberX11::GrabWindow(int width, int rows, platform::Picture* picture) {
    if (!redirected_) return false;
    ReadEvents();
    if (needName_ && !NamePixmap() && pixmap_ == 0) return false;
    if (pixmapDepth_ != 24 && pixmapDepth_ != 32) return false;  // the screen copy converts any depth
    // The pixmap holds the border too; the client area starts inside it.
    if (width <= clientWidth_ && rows <= clientHeight_ && shmAvailable_ &&
        ShmRead(pixmap_, border_, border_, width, rows, picture)) {
        lastSource_ = Source::WindowShm;
        return true;
    }
    const int w = std::min(width, clientWidth_);
    const int h = std::min(rows, clientHeight_);
    if (w <= 0 || h <= 0) return false;
    *picture = Converted(width, rows, w < width || h < rows);
    if (!PlainRead(pixmap_, border_, border_, w, h, 0, 0, picture)) {
        needName_ = true;  // a stale pixmap (a change we have not heard of yet): name it again
        return false;
    }
    lastSource_ = Source::WindowPlain;
    return true;
}

bool ScreenGrabberX11::GrabScreen(const ScreenRect& rect, int width, int rows, platform::Picture* picture) {
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    const Window root = RootWindow(d, screen);
    const int x0 = std::max(rect.left, 0);
    const int y0 = std::max(rect.top, 0);
    const int x1 = std::min(rect.left + width, DisplayWidth(d, screen));
    const int y1 = std::min(rect.top + rows, DisplayHeight(d, screen));
    const bool inside = x0 == rect.left && y0 == rect.top && x1 == rect.left + width && y1 == rect.top + rows;
    // The shared image must lie wholly on the screen; a window partly off it takes the plain path.
    if (inside && shmAvailable_ && ShmRead(root, rect.left, rect.top, width, rows, picture)) {
        lastSource_ = Source::ScreenShm;
        return true;
    }
    *picture = Converted(width, rows, !inside);
    lastSource_ = Source::ScreenPlain;
    if (x1 <= x0 || y1 <= y0) return true;  // wholly off the screen: black
    return PlainRead(root, x0, y0, x1 - x0, y1 - y0, x0 - rect.left, y0 - rect.top, picture);
}

bool ScreenGrabberX11::Grab(platform::WindowId window, const ScreenRect& rect, int width, int rows,
                            platform::Picture* picture) {
    lastSource_ = Source::Nothing;
    if (width <= 0 || rows <= 0 || picture == nullptr) return false;
    Follow(window);
    return GrabWindow(width, rows, picture) || GrabScreen(rect, width, rows, picture);
}

}  // namespace x11
