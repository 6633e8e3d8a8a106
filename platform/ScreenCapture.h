#pragma once

namespace platform {

// A native top-level window (an X11 window id).
using WindowId = unsigned long;

// A rectangle in root-window (screen) coordinates; right and bottom are exclusive.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// What the capture sender asks about the game window. Any call may find the window gone.
class IWindowTracker {
public:
    virtual ~IWindowTracker() = default;
    virtual bool Exists(WindowId window) = 0;
    // The client area in screen coordinates; false when the window is gone.
    virtual bool ClientRect(WindowId window, ScreenRect* rect) = 0;
    // Minimised (iconified or hidden by the window manager).
    virtual bool IsMinimised(WindowId window) = 0;
    // Raises the window and asks the window manager to give it the focus.
    virtual void Activate(WindowId window) = 0;
};

// A picture held by a grabber: 32-bit pixels, top-down, each the bytes blue, green, red and one
// unused, rows `stride` bytes apart. It stays valid until the grabber's next Grab.
struct Picture {
    const unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// Reads the game window's picture.
class IScreenGrabber {
public:
    virtual ~IScreenGrabber() = default;
    // Colour depth of the screen in bits per pixel.
    virtual int Depth() = 0;
    // Captures the `width` × `rows` pixels at the top left of `window`'s client area, which lies
    // at `rect` on the screen, with the standard arrow drawn in when the pointer is over that
    // area. On success `picture` describes the grabber's own pixels. False when nothing was
    // captured; the picture of an earlier Grab is then no longer valid either.
    virtual bool Grab(WindowId window, const ScreenRect& rect, int width, int rows, Picture* picture) = 0;
};

}  // namespace platform
