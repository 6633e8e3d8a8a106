#pragma once

#include "IGameWindows.h"
#include "XDisplay.h"

// The game windows of the X display named by $DISPLAY. Without a display there are none.
class GameWindowsX11 : public IGameWindows {
public:
    GameWindowsX11();

    std::vector<OwnedWindow> GameWindowsOf(const std::vector<long>& pids) override;
    void BringToFront(WindowId window) override;

private:
    x11::DisplayPtr display_;
};
