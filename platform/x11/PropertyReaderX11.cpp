#include "PropertyReaderX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "XErrorTrap.h"
#include "XFreeDeleter.h"

namespace x11 {

PropertyReaderX11::AtomId PropertyReaderX11::AtomNamed(const std::string& name) const {
    const auto known = atoms_.find(name);
    if (known != atoms_.end()) return known->second;
    const AtomId atom = XInternAtom(display_, name.c_str(), False);
    atoms_.emplace(name, atom);
    return atom;
}

std::vector<long> PropertyReaderX11::Longs(WindowId window, AtomId property, AtomId type) const {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    XErrorTrap trap(display_);
    const int status = XGetWindowProperty(display_, window, property, 0, 1L << 16, False, type, &actualType,
                                          &actualFormat, &count, &after, &raw);
    const XFreePtr<unsigned char> data(raw);
    if (trap.GetLastErrorAndDisable() != 0 || status != Success || actualType != type || actualFormat != 32 ||
        !data)
        return {};
    const auto* items = reinterpret_cast<const long*>(data.get());
    return std::vector<long>(items, items + count);
}

bool PropertyReaderX11::Minimised(WindowId window) const {
    if (window == 0) return false;
    const AtomId wmState = AtomNamed("WM_STATE");
    const std::vector<long> state = Longs(window, wmState, wmState);
    if (!state.empty() && state.front() == IconicState) return true;
    const AtomId hidden = AtomNamed("_NET_WM_STATE_HIDDEN");
    for (long atom : Longs(window, "_NET_WM_STATE", XA_ATOM))
        if (static_cast<AtomId>(atom) == hidden) return true;
    return false;
}

}  // namespace x11
