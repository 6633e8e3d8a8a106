#include "ScreenGrabberX11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ArrowCursor.h"
#include "XDisplayRetry.h"
#include "XErrorTrap.h"

namespace x11 {
namespace {

struct ImageDestroy {
    void operator()(XImage* image) const {
        if (image != nullptr) XDestroyImage(image);
    }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroy>;

int MaskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// Copies an image of the root window into packed BGR at (dx, dy) of the output.
void ToBgr(XImage* image, int width, int rows, unsigned char* out, int rowBytes, int dx, int dy) {
    const bool bgrx = image->bits_per_pixel == 32 && image->byte_order == LSBFirst && image->red_mask == 0xff0000 &&
                      image->green_mask == 0xff00 && image->blue_mask == 0xff;
    for (int y = 0; y < rows; ++y) {
        unsigned char* dst = out + static_cast<long>(dy + y) * rowBytes + dx * 3;
        if (bgrx) {
            const unsigned char* src = reinterpret_cast<const unsigned char*>(image->data) +
                                       static_cast<long>(y) * image->bytes_per_line;
            for (int x = 0; x < width; ++x, src += 4, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
            continue;
        }
        // Other visuals (16-bit, big-endian servers): slow but exact.
        const int rs = MaskShift(image->red_mask), gs = MaskShift(image->green_mask), bs = MaskShift(image->blue_mask);
        const unsigned long rm = image->red_mask >> rs, gm = image->green_mask >> gs, bm = image->blue_mask >> bs;
        for (int x = 0; x < width; ++x, dst += 3) {
            const unsigned long p = XGetPixel(image, x, y);
            dst[0] = static_cast<unsigned char>(bm ? ((p >> bs) & bm) * 255 / bm : 0);
            dst[1] = static_cast<unsigned char>(gm ? ((p >> gs) & gm) * 255 / gm : 0);
            dst[2] = static_cast<unsigned char>(rm ? ((p >> rs) & rm) * 255 / rm : 0);
        }
    }
}

}  // namespace

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
    shmAvailable_ = XShmQueryExtension(display_.get()) != 0;
}

ScreenGrabberX11::~ScreenGrabberX11() = default;

int ScreenGrabberX11::Depth() { return DefaultDepth(display_.get(), DefaultScreen(display_.get())); }

bool ScreenGrabberX11::GrabShm(int left, int top, int width, int rows, unsigned char* out, int rowBytes) {
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    if (!shm_ || shm_->image->width != width || shm_->image->height != rows) {
        shm_.reset();
        auto shm = std::make_unique<Shm>();
        shm->display = d;
        shm->image.reset(XShmCreateImage(d, DefaultVisual(d, screen), static_cast<unsigned>(DefaultDepth(d, screen)),
                                         ZPixmap, nullptr, &shm->info, static_cast<unsigned>(width),
                                         static_cast<unsigned>(rows)));
        if (!shm->image) return false;
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
    const Bool ok = XShmGetImage(d, RootWindow(d, screen), shm_->image.get(), left, top, AllPlanes);
    if (trap.GetLastErrorAndDisable() != 0 || !ok) return false;
    ToBgr(shm_->image.get(), width, rows, out, rowBytes, 0, 0);
    return true;
}

bool ScreenGrabberX11::GrabPlain(int left, int top, int width, int rows, unsigned char* out, int rowBytes) {
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    const int x0 = std::max(left, 0);
    const int y0 = std::max(top, 0);
    const int x1 = std::min(left + width, DisplayWidth(d, screen));
    const int y1 = std::min(top + rows, DisplayHeight(d, screen));
    for (int y = 0; y < rows; ++y) std::memset(out + static_cast<long>(y) * rowBytes, 0, static_cast<size_t>(width) * 3);
    if (x1 <= x0 || y1 <= y0) return true;  // wholly off the screen: black
    XErrorTrap trap(d);
    ImagePtr image(XGetImage(d, RootWindow(d, screen), x0, y0, static_cast<unsigned>(x1 - x0),
                             static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap));
    if (trap.GetLastErrorAndDisable() != 0 || !image) return false;
    ToBgr(image.get(), x1 - x0, y1 - y0, out, rowBytes, x0 - left, y0 - top);
    return true;
}

bool ScreenGrabberX11::Grab(int left, int top, int width, int rows, unsigned char* out, int rowBytes) {
    if (width <= 0 || rows <= 0 || out == nullptr || rowBytes < width * 3) return false;
    Display* d = display_.get();
    const int screen = DefaultScreen(d);
    const bool inside = left >= 0 && top >= 0 && left + width <= DisplayWidth(d, screen) &&
                        top + rows <= DisplayHeight(d, screen);
    usedShm_ = false;
    // The shared image must lie wholly on the screen; a window partly off it takes the plain path.
    if (inside && shmAvailable_ && GrabShm(left, top, width, rows, out, rowBytes)) {
        usedShm_ = true;
    } else if (!GrabPlain(left, top, width, rows, out, rowBytes)) {
        return false;
    }

    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    if (XQueryPointer(d, RootWindow(d, screen), &root, &child, &rootX, &rootY, &winX, &winY, &mask))
        ArrowCursor::Draw(out, width, rows, rowBytes, rootX - left, rootY - top);
    return true;
}

}  // namespace x11
