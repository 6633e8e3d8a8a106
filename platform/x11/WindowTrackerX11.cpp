#include "WindowTrackerX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "XDisplayRetry.h"
#include "XErrorTrap.h"

namespace x11 {
namespace {

struct XFreeDeleter {
    void operator()(unsigned char* p) const {
        if (p != nullptr) XFree(p);
    }
};

// Reads a format-32 property; its items are longs, even on 64-bit systems.
bool ReadLongs(Display* d, Window w, Atom property, Atom type, std::unique_ptr<unsigned char, XFreeDeleter>* data,
               unsigned long* count) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    XErrorTrap trap(d);
    const int rc = XGetWindowProperty(d, w, property, 0, 64, False, type, &actualType, &actualFormat, count, &after, &raw);
    data->reset(raw);
    if (trap.GetLastErrorAndDisable() != 0 || rc != Success || actualFormat != 32 || raw == nullptr) return false;
    return true;
}

}  // namespace

std::unique_ptr<WindowTrackerX11> WindowTrackerX11::Create() {
    DisplayPtr display = OpenDisplayRetrying();
    if (!display) return nullptr;
    return std::unique_ptr<WindowTrackerX11>(new WindowTrackerX11(std::move(display)));
}

WindowTrackerX11::WindowTrackerX11(DisplayPtr display) : display_(std::move(display)) {}

bool WindowTrackerX11::Exists(platform::WindowId window) {
    if (window == 0) return false;
    XWindowAttributes attributes;
    XErrorTrap trap(display_.get());
    const Status ok = XGetWindowAttributes(display_.get(), window, &attributes);
    return trap.GetLastErrorAndDisable() == 0 && ok != 0;
}

bool WindowTrackerX11::ClientRect(platform::WindowId window, platform::ScreenRect* rect) {
    if (window == 0) return false;
    Display* d = display_.get();
    XWindowAttributes attributes;
    int x = 0;
    int y = 0;
    Window child = 0;
    XErrorTrap trap(d);
    if (XGetWindowAttributes(d, window, &attributes) == 0) return false;
    // The client area starts at the window's own origin: the frame is the manager's parent window.
    if (XTranslateCoordinates(d, window, attributes.root, 0, 0, &x, &y, &child) == 0) return false;
    if (trap.GetLastErrorAndDisable() != 0) return false;
    rect->left = x;
    rect->top = y;
    rect->right = x + attributes.width;
    rect->bottom = y + attributes.height;
    return true;
}

bool WindowTrackerX11::IsMinimised(platform::WindowId window) {
    if (window == 0) return false;
    Display* d = display_.get();
    // ICCCM: WM_STATE is IconicState for an iconified client.
    const Atom wmState = XInternAtom(d, "WM_STATE", False);
    std::unique_ptr<unsigned char, XFreeDeleter> data;
    unsigned long count = 0;
    if (ReadLongs(d, window, wmState, wmState, &data, &count) && count >= 1 &&
        reinterpret_cast<const long*>(data.get())[0] == IconicState)
        return true;
    // EWMH: _NET_WM_STATE holding _NET_WM_STATE_HIDDEN.
    const Atom netState = XInternAtom(d, "_NET_WM_STATE", False);
    const Atom hidden = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
    if (ReadLongs(d, window, netState, XA_ATOM, &data, &count)) {
        const long* atoms = reinterpret_cast<const long*>(data.get());
        for (unsigned long i = 0; i < count; ++i)
            if (static_cast<Atom>(atoms[i]) == hidden) return true;
    }
    return false;
}

void WindowTrackerX11::Activate(platform::WindowId window) {
    if (window == 0) return;
    Display* d = display_.get();
    XErrorTrap trap(d);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, window, &attributes) == 0) return;
    // EWMH: a pager-style activation request (source 2), which managers honour; then a raise for
    // the case without a manager.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, attributes.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XRaiseWindow(d, window);
    XFlush(d);
}

}  // namespace x11
