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

// Copies what the screen shows.
class IScreenGrabber {
public:
    virtual ~IScreenGrabber() = default;
    // Colour depth of the screen in bits per pixel.
    virtual int Depth() = 0;
    // Fills `rows` rows of `rowBytes` bytes at `out` with the `width` × `rows` pixels whose top
    // left corner is (left, top) on the screen, as packed top-down BGR, with the standard arrow
    // drawn in at the pointer. Pixels off the screen are black. False when nothing was copied.
    virtual bool Grab(int left, int top, int width, int rows, unsigned char* out, int rowBytes) = 0;
};

}  // namespace platform
