#pragma once

#include <chrono>
#include <thread>

#include "XDisplay.h"

namespace x11 {

// A server busy accepting other clients refuses a connection now and then (EAGAIN on its
// socket); a few quick retries tell that apart from a display that is really not there.
inline DisplayPtr OpenDisplayRetrying(int attempts = 10) {
    for (int i = 0; i < attempts; ++i) {
        if (DisplayPtr display = OpenDisplay()) return display;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
}

}  // namespace x11
