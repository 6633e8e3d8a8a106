#include "CMainWindowIterator.h"

CMainWindowIterator::CMainWindowIterator(const x11::X11WindowList& windows, long pid)
    : windows_(windows.VisibleWindowsOf(pid, kMaxWindows)) {}

CMainWindowIterator::WindowId CMainWindowIterator::First() {
    current_ = 0;
    return Next();
}

CMainWindowIterator::WindowId CMainWindowIterator::Next() {
    return current_ < windows_.size() ? windows_[current_++] : 0;
}
