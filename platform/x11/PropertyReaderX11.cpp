#include "PropertyReaderX11.h"

#include <X11/Xlib.h>

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

}  // namespace x11
