#include "WindowListX11.h"

#include <algorithm>
#include <memory>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "XErrorTrap.h"

namespace x11 {
namespace {

struct XFreeDeleter {
    void operator()(void* p) const {
        if (p != nullptr) XFree(p);
    }
};

// A format-32 property as its array of longs (Xlib hands 32-bit items as long, even on 64-bit
// systems); empty when absent or of another type.
std::vector<long> LongProperty(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    XErrorTrap trap(display);
    const int status = XGetWindowProperty(display, window, property, 0, 1L << 16, False, type, &actualType,
                                          &actualFormat, &count, &after, &raw);
    std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
    if (trap.GetLastErrorAndDisable() != 0 || status != Success || actualType != type || actualFormat != 32 ||
        !data)
        return {};
    const auto* items = reinterpret_cast<const long*>(data.get());
    return std::vector<long>(items, items + count);
}

// Children bottom to top; empty when the window is gone.
std::vector<Window> Children(Display* display, Window window) {
    Window root = None;
    Window parent = None;
    Window* raw = nullptr;
    unsigned int count = 0;
    XErrorTrap trap(display);
    const Status ok = XQueryTree(display, window, &root, &parent, &raw, &count);
    std::unique_ptr<Window, XFreeDeleter> children(raw);
    if (trap.GetLastErrorAndDisable() != 0 || ok == 0 || !children) return {};
    return std::vector<Window>(children.get(), children.get() + count);
}

// The client window of a top-level window: the window itself when it carries WM_STATE or
// _NET_WM_PID, else the first such window inside it. Reparenting managers put the client in a
// frame, some with a wrapper window between them; the search stops a few levels down. None
// when there is no such window (an override-redirect menu, a manager's own window).
Window ClientWindow(Display* display, Window window, Atom wmState, Atom pidAtom, int depth) {
    int count = 0;
    XErrorTrap trap(display);
    std::unique_ptr<Atom, XFreeDeleter> properties(XListProperties(display, window, &count));
    if (trap.GetLastErrorAndDisable() != 0) return None;  // gone meanwhile
    for (int i = 0; properties && i < count; ++i)
        if (properties.get()[i] == wmState || properties.get()[i] == pidAtom) return window;
    if (depth == 0) return None;
    const std::vector<Window> inner = Children(display, window);
    for (auto it = inner.rbegin(); it != inner.rend(); ++it)
        if (const Window client = ClientWindow(display, *it, wmState, pidAtom, depth - 1); client != None)
            return client;
    return None;
}

}  // namespace

std::vector<WindowListX11::TopLevel> WindowListX11::TopLevelWindows() const {
    Display* d = display_;
    const Window root = DefaultRootWindow(d);
    const Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    const Atom stackingAtom = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False);

    const auto pidOf = [&](Window w) -> long {
        const auto value = LongProperty(d, w, pidAtom, XA_CARDINAL);
        return value.empty() ? -1 : value.front();
    };

    // Bottom-to-top candidates: the manager's own list of client windows when it keeps one;
    // else the root's children, looking through the frames of a reparenting manager (weston's
    // among them, which keeps no such list) to the client window inside.
    std::vector<Window> clients;
    for (long w : LongProperty(d, root, stackingAtom, XA_WINDOW)) clients.push_back(static_cast<Window>(w));
    if (clients.empty()) {
        const Atom wmStateAtom = XInternAtom(d, "WM_STATE", False);
        for (Window child : Children(d, root)) {
            const Window client = ClientWindow(d, child, wmStateAtom, pidAtom, 3);
            clients.push_back(client != None ? client : child);
        }
    }

    std::vector<TopLevel> windows;
    windows.reserve(clients.size());
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        XWindowAttributes attributes{};
        XErrorTrap trap(d);
        const Status ok = XGetWindowAttributes(d, *it, &attributes);
        if (trap.GetLastErrorAndDisable() != 0 || ok == 0) continue;
        windows.push_back({*it, pidOf(*it), attributes.map_state == IsViewable});
    }
    return windows;
}

std::vector<WindowListX11::WindowId> WindowListX11::VisibleWindowsOf(long pid, std::size_t limit) const {
    std::vector<WindowId> found;
    for (const auto& w : TopLevelWindows()) {
        if (found.size() >= limit) break;
        if (w.viewable && w.pid == pid) found.push_back(w.window);
    }
    return found;
}

bool WindowListX11::BringToFront(WindowId window) const {
    Display* d = display_;
    const Window root = DefaultRootWindow(d);
    XErrorTrap trap(d);
    // EWMH _NET_ACTIVE_WINDOW: a manager raises and focuses; without one the raise does it.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1;  // source: an application
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XRaiseWindow(d, window);
    return trap.GetLastErrorAndDisable() == 0;
}

}  // namespace x11
