#include "CMainWindowIterator.h"

#include <algorithm>

CMainWindowIterator::CMainWindowIterator(const x11::WindowListX11& windows, long pid)
    : CMainWindowIterator(windows, std::vector<long>{pid}) {}

CMainWindowIterator::CMainWindowIterator(const x11::WindowListX11& windows, const std::vector<long>& pids) {
    for (const auto& w : windows.TopLevelWindows()) {
        if (windows_.size() >= kMaxWindows) break;
        if (w.viewable && std::find(pids.begin(), pids.end(), w.pid) != pids.end()) {
            windows_.push_back(w.window);
            owners_.push_back(w.pid);
        }
    }
}

CMainWindowIterator::WindowId CMainWindowIterator::First() {
    current_ = 0;
    return Next();
}

CMainWindowIterator::WindowId CMainWindowIterator::Next() {
    if (current_ >= windows_.size()) {
        owner_ = 0;
        return 0;
    }
    owner_ = owners_[current_];
    return windows_[current_++];
}
