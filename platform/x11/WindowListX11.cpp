#include "WindowListX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "ActivateWindow.h"
#include "XErrorTrap.h"
#include "XFreeDeleter.h"

namespace x11 {
namespace {

// Children bottom to top; empty when the window is gone.
std::vector<Window> Children(Display* display, Window window) {
    Window root = None;
    Window parent = None;
    Window* raw = nullptr;
    unsigned int count = 0;
    XErrorTrap trap(display);
    const Status ok = XQueryTree(display, window, &root, &parent, &raw, &count);
    const XFreePtr<Window> children(raw);
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
    const XFreePtr<Atom> properties(XListProperties(display, window, &count));
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
    Display* d = properties_.display();
    const Window root = DefaultRootWindow(d);
    const Atom pidAtom = properties_.AtomNamed("_NET_WM_PID");

    const auto pidOf = [&](Window w) -> long {
        const auto value = properties_.Longs(w, pidAtom, XA_CARDINAL);
        return value.empty() ? -1 : value.front();
    };

    // Bottom-to-top candidates: the manager's own list of client windows when it keeps one;
    // else the root's children, looking through the frames of a reparenting manager (weston's
    // among them, which keeps no such list) to the client window inside.
    std::vector<Window> clients;
    for (long w : properties_.Longs(root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW))
        clients.push_back(static_cast<Window>(w));
    if (clients.empty()) {
        const Atom wmStateAtom = properties_.AtomNamed("WM_STATE");
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
        const bool viewable = attributes.map_state == IsViewable;
        windows.push_back({*it, pidOf(*it), viewable, !viewable && properties_.Minimised(*it)});
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

bool WindowListX11::BringToFront(WindowId window) const { return ActivateWindow(properties_.display(), window); }

}  // namespace x11
