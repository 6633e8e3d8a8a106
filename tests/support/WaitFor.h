#pragma once

// Polls a condition until it holds or the time is up: what a test waits on instead of a fixed
// sleep, so that a slow machine only makes it slower, never wrong.

#include <chrono>
#include <thread>

namespace testsupport {

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000),
             std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

}  // namespace testsupport
