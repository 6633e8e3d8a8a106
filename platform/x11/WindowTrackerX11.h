#pragma once

#include <memory>

#include "PropertyReaderX11.h"
#include "ScreenCapture.h"
#include "XDisplay.h"

namespace x11 {

// Game-window queries on an X server, on a display connection of its own. Works with and
// without a window manager; every request on the foreign window runs under an error trap.
class WindowTrackerX11 final : public platform::IWindowTracker {
public:
    // Null when no display can be opened.
    static std::unique_ptr<WindowTrackerX11> Create();

    bool Exists(platform::WindowId window) override;
    bool ClientRect(platform::WindowId window, platform::ScreenRect* rect) override;
    bool IsMinimised(platform::WindowId window) override;
    void Activate(platform::WindowId window) override;

private:
    explicit WindowTrackerX11(DisplayPtr display);
    DisplayPtr display_;
    PropertyReaderX11 properties_;
};

}  // namespace x11
