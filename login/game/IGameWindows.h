#pragma once

#include <vector>

// Where the windows of a chosen game come from: the X display in the program, a fake in tests.
class IGameWindows {
public:
    using WindowId = unsigned long;

    virtual ~IGameWindows() = default;
    // The visible top-level windows of process `pid`, top first.
    virtual std::vector<WindowId> VisibleWindowsOf(long pid) = 0;
    // Brings `window` to the front of the desktop.
    virtual void BringToFront(WindowId window) = 0;
};
