#include "XDisplay.h"

#include <X11/Xlib.h>

namespace x11 {

void DisplayClose::operator()(Display* d) const {
    if (d != nullptr) XCloseDisplay(d);
}

DisplayPtr OpenDisplay(const std::string& name) {
    static const bool threads = XInitThreads() != 0;  // capture and UI threads share Xlib
    (void)threads;
    return DisplayPtr(XOpenDisplay(name.empty() ? nullptr : name.c_str()));
}

}  // namespace x11
