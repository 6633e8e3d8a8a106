#include "XFreeDeleter.h"

#include <X11/Xlib.h>

namespace x11 {

void XFreeDeleter::operator()(void* p) const {
    if (p != nullptr) XFree(p);
}

}  // namespace x11
