#include "GameWindowsX11.h"

#include "CMainWindowIterator.h"

GameWindowsX11::GameWindowsX11() : display_(x11::OpenDisplay()) {}

std::vector<IGameWindows::OwnedWindow> GameWindowsX11::GameWindowsOf(const std::vector<long>& pids) {
    std::vector<OwnedWindow> windows;
    if (!display_) return windows;
    x11::WindowListX11 list(display_.get());
    CMainWindowIterator it(list, pids, CMainWindowIterator::Minimised::Included);
    for (WindowId w = it.First(); w != 0; w = it.Next()) windows.push_back({w, it.Owner(), it.OwnerMinimised()});
    return windows;
}

void GameWindowsX11::BringToFront(WindowId window) {
    if (!display_) return;
    x11::WindowListX11(display_.get()).BringToFront(window);
}
