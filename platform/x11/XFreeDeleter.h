#pragma once

#include <memory>

namespace x11 {

// Frees what Xlib hands out for the caller to XFree (property data, window and atom lists).
struct XFreeDeleter {
    void operator()(void* p) const;
};

template <typename T>
using XFreePtr = std::unique_ptr<T, XFreeDeleter>;

}  // namespace x11
