#pragma once

#include <cstddef>
#include <vector>

#include "WindowListX11.h"

// The visible top-level windows of one process, or of the processes that share a name, top
// first, at most kMaxWindows of them.
class CMainWindowIterator {
public:
    using WindowId = x11::WindowListX11::WindowId;
    static constexpr std::size_t kMaxWindows = 1024;

    CMainWindowIterator(const x11::WindowListX11& windows, long pid);
    CMainWindowIterator(const x11::WindowListX11& windows, const std::vector<long>& pids);

    // The first window, then the next ones; 0 when there are no more.
    WindowId First();
    WindowId Next();
    // The process that shows the window First() or Next() returned last; 0 before that.
    long Owner() const { return owner_; }
    std::size_t Count() const { return windows_.size(); }

private:
    std::vector<WindowId> windows_;
    std::vector<long> owners_;
    std::size_t current_ = 0;
    long owner_ = 0;
};
