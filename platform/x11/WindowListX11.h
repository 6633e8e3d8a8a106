#pragma once

#include <cstddef>
#include <vector>

#include "PropertyReaderX11.h"

namespace x11 {

// The top-level windows of an X display, as the window manager stacks them, with the process
// that owns each (_NET_WM_PID). Works with a window manager (its _NET_CLIENT_LIST_STACKING, or
// the client windows inside its frames) and without one (the root's children, as under Xvfb).
// The display must outlive the list; one thread.
class WindowListX11 {
public:
    using WindowId = unsigned long;  // an X window id

    struct TopLevel {
        WindowId window = 0;
        long pid = -1;  // -1: the window does not say
        bool viewable = false;
        // Minimised by the window manager (and so, with the managers we know, not viewable);
        // Composite reads it again once it is restored.
        bool minimised = false;
    };

    explicit WindowListX11(Display* display) : properties_(display) {}

    // Top first. Windows that vanish while they are read are left out.
    std::vector<TopLevel> TopLevelWindows() const;

    // The viewable top-level windows of process `pid`, top first, at most `limit`.
    std::vector<WindowId> VisibleWindowsOf(long pid, std::size_t limit) const;

    // Brings `window` to the front as the member's choice (ActivateWindow); false when it is gone.
    bool BringToFront(WindowId window) const;

private:
    PropertyReaderX11 properties_;
};

}  // namespace x11
