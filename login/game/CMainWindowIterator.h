#pragma once

#include <cstddef>
#include <vector>

#include "WindowListX11.h"

// The visible top-level windows of one process, or of the processes that share a name, top
// first, at most kMaxWindows of them; where asked, the minimised ones follow, top first.
class CMainWindowIterator {
public:
    using WindowId = x11::WindowListX11::WindowId;
    static constexpr std::size_t kMaxWindows = 1024;
    enum class Minimised { Left, Included };

    CMainWindowIterator(const x11::WindowListX11& windows, long pid);
    CMainWindowIterator(const x11::WindowListX11& windows, const std::vector<long>& pids,
                        Minimised minimised = Minimised::Left);

    // The first window, then the next ones; 0 when there are no more.
    WindowId First();
    WindowId Next();
    // The process that shows the window First() or Next() returned last; 0 before that.
    long Owner() const { return owner_; }
    // Whether that window is a minimised one.
    bool OwnerMinimised() const { return ownerMinimised_; }
    std::size_t Count() const { return windows_.size(); }

private:
    std::vector<WindowId> windows_;
    std::vector<long> owners_;
    std::size_t visible_ = 0;  // the first visible_ windows are the visible ones
    std::size_t current_ = 0;
    long owner_ = 0;
    bool ownerMinimised_ = false;
};
