#include "ActivateWindow.h"

#include <X11/Xlib.h>

#include "XErrorTrap.h"

namespace x11 {
namespace {

// EWMH source indication of a _NET_ACTIVE_WINDOW request.
constexpr long kSourceUserAction = 2;

}  // namespace

bool ActivateWindow(Display* display, unsigned long window) {
    if (window == 0) return false;
    XErrorTrap trap(display);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = kSourceUserAction;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, attributes.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XRaiseWindow(display, window);
    // The trap's sync sends both requests and tells whether the window was gone meanwhile.
    return trap.GetLastErrorAndDisable() == 0;
}

}  // namespace x11
