#include "CMainWindowIterator.h"

#include <algorithm>

CMainWindowIterator::CMainWindowIterator(const x11::WindowListX11& windows, long pid)
    : CMainWindowIterator(windows, std::vector<long>{pid}) {}

CMainWindowIterator::CMainWindowIterator(const x11::WindowListX11& windows, const std::vector<long>& pids,
                                         Minimised minimised) {
    const auto all = windows.TopLevelWindows();
    const auto take = [&](bool shown) {
        for (const auto& w : all) {
            if (windows_.size() >= kMaxWindows) break;
            if ((shown ? w.viewable : w.minimised) && std::find(pids.begin(), pids.end(), w.pid) != pids.end()) {
                windows_.push_back(w.window);
                owners_.push_back(w.pid);
            }
        }
    };
    take(true);
    visible_ = windows_.size();
    if (minimised == Minimised::Included) take(false);
}

CMainWindowIterator::WindowId CMainWindowIterator::First() {
    current_ = 0;
    return Next();
}

CMainWindowIterator::WindowId CMainWindowIterator::Next() {
    if (current_ >= windows_.size()) {
        owner_ = 0;
        ownerMinimised_ = false;
        return 0;
    }
    owner_ = owners_[current_];
    ownerMinimised_ = current_ >= visible_;
    return windows_[current_++];
}
