#pragma once

#include <memory>
#include <string>

// Forward declaration keeps Xlib's macros (Bool, Status, True, None) out of the headers that
// include this one.
typedef struct _XDisplay Display;

namespace x11 {

struct DisplayClose {
    void operator()(Display* d) const;
};
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

// Opens the display named by $DISPLAY (or `name`); null when there is none.
DisplayPtr OpenDisplay(const std::string& name = {});

}  // namespace x11
