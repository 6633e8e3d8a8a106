#include "X11GameWindows.h"

#include <X11/Xlib.h>

#include "CMainWindowIterator.h"

X11GameWindows::X11GameWindows() : display_(x11::OpenDisplay()) {}

std::vector<IGameWindows::OwnedWindow> X11GameWindows::VisibleWindowsOf(const std::vector<long>& pids) {
    std::vector<OwnedWindow> windows;
    if (!display_) return windows;
    x11::X11WindowList list(display_.get());
    CMainWindowIterator it(list, pids);
    for (WindowId w = it.First(); w != 0; w = it.Next()) windows.push_back({w, it.Owner()});
    return windows;
}

void X11GameWindows::BringToFront(WindowId window) {
    if (!display_) return;
    x11::X11WindowList(display_.get()).BringToFront(window);
    XFlush(display_.get());
}
