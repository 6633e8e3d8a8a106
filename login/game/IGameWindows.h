#pragma once

#include <vector>

// Where the windows of a chosen game come from: the X display in the program, a fake in tests.
class IGameWindows {
public:
    using WindowId = unsigned long;

    struct OwnedWindow {
        WindowId window = 0;
        long pid = 0;  // the process that shows it
        bool minimised = false;
        bool operator==(const OwnedWindow&) const = default;
    };

    virtual ~IGameWindows() = default;
    // The top-level windows of any of the processes `pids` that are visible, top first, then
    // those that are minimised, top first: the processes that share one name take their places
    // in a single window order. A minimised window is still the game's, read again once the
    // game is restored; a withdrawn one (unmapped, not minimised) is not.
    virtual std::vector<OwnedWindow> GameWindowsOf(const std::vector<long>& pids) = 0;
    // Brings `window` to the front of the desktop.
    virtual void BringToFront(WindowId window) = 0;
};
