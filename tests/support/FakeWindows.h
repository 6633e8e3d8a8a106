#pragma once

// The windows of a display, top first, each with the process that shows it: what the game
// detector sees of a desktop, without one.

#include <algorithm>
#include <utility>
#include <vector>

#include "IGameWindows.h"

namespace testsupport {

class FakeWindows : public IGameWindows {
public:
    FakeWindows() = default;
    explicit FakeWindows(std::vector<OwnedWindow> stack) : stack_(std::move(stack)) {}
    // The shown windows of `pids` in stacking order, then the minimised ones.
    std::vector<OwnedWindow> GameWindowsOf(const std::vector<long>& pids) override {
        std::vector<OwnedWindow> found;
        for (const bool minimised : {false, true})
            for (const auto& w : stack_)
                if (w.minimised == minimised && std::find(pids.begin(), pids.end(), w.pid) != pids.end())
                    found.push_back(w);
        return found;
    }
    void BringToFront(WindowId window) override { raised.push_back(window); }

    std::vector<WindowId> raised;  // every window brought to the front, in order

private:
    std::vector<OwnedWindow> stack_;
};

}  // namespace testsupport
