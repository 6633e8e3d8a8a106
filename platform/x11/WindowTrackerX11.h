#pragma once

#include <memory>

#include "PropertyReaderX11.h"
#include "GameCapture.h"
#include "ScreenRect.h"
#include "XDisplay.h"

namespace x11 {

// Game-window queries on an X server, on a display connection of its own. Works with and
// without a window manager; every request on the foreign window runs under an error trap.
class WindowTrackerX11 final {
public:
    // Null when no display can be opened.
    static std::unique_ptr<WindowTrackerX11> Create();

    bool Exists(platform::WindowId window);
    // The client area in screen coordinates; false when the window is gone.
    bool ClientRect(platform::WindowId window, ScreenRect* rect);
    // Iconified, or hidden by the window manager.
    bool IsMinimised(platform::WindowId window);
    // Raises the window and asks the window manager to give it the focus.
    void Activate(platform::WindowId window);
    // Where the pointer is on the screen; false when it is on another screen.
    bool PointerPosition(int* x, int* y);

private:
    explicit WindowTrackerX11(DisplayPtr display);
    DisplayPtr display_;
    PropertyReaderX11 properties_;
};

}  // namespace x11
