#pragma once

#include <memory>
#include <vector>

#include "GameCapture.h"
#include "ScreenRect.h"
#include "XDisplay.h"

namespace x11 {

// Reads the game window's own contents: the window is redirected with the Composite extension
// (automatic redirection, so the screen shows what it showed before) and its pixmap is read
// with MIT-SHM, or XGetImage where the server offers no shared memory. Under Xwayland (the
// Wayland sessions of current desktops) the root window reads back black and only the window
// itself holds the game; and reading the window keeps whatever lies over it (other windows,
// notifications, our own main window) out of the broadcast. Where Composite is missing or the
// window cannot be read, the screen area of the root window is copied instead, as on a plain
// X server.
//
// The pixels handed out are the server's 32-bit pixels where its layout is blue, green, red,
// unused (the usual 24- and 32-bit TrueColor visuals): the shared segment is the picture, so
// nothing is repacked on our side. The arrow is not drawn here: GameCaptureX11 says where the
// pointer is. Owns its display connection, the shared segment and the
// named pixmap; used from one thread at a time.
class ScreenGrabberX11 final {
public:
    // Where the last picture came from.
    enum class Source { Nothing, WindowShm, WindowPlain, ScreenShm, ScreenPlain };

    // Null when no display can be opened.
    static std::unique_ptr<ScreenGrabberX11> Create();
    ~ScreenGrabberX11();

    // Reads the `width` × `rows` pixels at the top left of `window`'s client area, which lies
    // at `rect` on the screen. On success `picture` describes the grabber's own pixels, valid
    // until the next Grab. False when nothing was captured.
    bool Grab(platform::WindowId window, const ScreenRect& rect, int width, int rows, platform::Picture* picture);

    Source LastSource() const { return lastSource_; }
    // Never use the shared segment (to exercise the plain path).
    void DisableShm();
    // Never read the window itself: always the screen area (the path of servers without
    // Composite; also the screen-copy figures of the benchmark).
    void DisableComposite();

private:
    struct Shm;
    explicit ScreenGrabberX11(DisplayPtr display);
    void Follow(platform::WindowId window);
    void Forget();
    void ReadEvents();
    bool NamePixmap();
    bool GrabWindow(int width, int rows, platform::Picture* picture);
    bool GrabScreen(const ScreenRect& rect, int width, int rows, platform::Picture* picture);
    bool ShmRead(unsigned long drawable, int x, int y, int width, int rows, platform::Picture* picture);
    bool PlainRead(unsigned long drawable, int x, int y, int width, int rows, int dx, int dy,
                   platform::Picture* picture);
    platform::Picture Converted(int width, int rows, bool clear);

    DisplayPtr display_;
    bool shmAvailable_ = false;
    bool compositeAvailable_ = false;
    Source lastSource_ = Source::Nothing;
    std::unique_ptr<Shm> shm_;
    std::vector<unsigned char> converted_;  // pictures that cannot be read in place

    // The window followed, its redirection and its named pixmap.
    platform::WindowId window_ = 0;
    bool redirected_ = false;
    bool needName_ = true;
    unsigned long pixmap_ = 0;
    int pixmapDepth_ = 0;
    int border_ = 0;
    int clientWidth_ = 0;
    int clientHeight_ = 0;
};

}  // namespace x11
