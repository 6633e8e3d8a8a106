#pragma once

#include <string>
#include <unordered_map>
#include <vector>

typedef struct _XDisplay Display;

namespace x11 {

// Reads window properties of an X display and interns the atoms they are named by, each name
// once per reader. Every read runs under an error trap: the windows are other programs' and can
// vanish between two requests. The display must outlive the reader; one thread.
class PropertyReaderX11 {
public:
    using AtomId = unsigned long;    // an X atom
    using WindowId = unsigned long;  // an X window id

    explicit PropertyReaderX11(Display* display) : display_(display) {}

    // The atom called `name`, created when the server has none yet.
    AtomId AtomNamed(const std::string& name) const;

    // A format-32 property of type `type` as its items (Xlib hands 32-bit items as long, even on
    // 64-bit systems); empty when the property is absent, of another type or format, or the
    // window is gone.
    std::vector<long> Longs(WindowId window, AtomId property, AtomId type) const;
    std::vector<long> Longs(WindowId window, const std::string& property, AtomId type) const {
        return Longs(window, AtomNamed(property), type);
    }

    // Whether the window manager says `window` is minimised: ICCCM's IconicState in WM_STATE, or
    // EWMH's _NET_WM_STATE_HIDDEN. Managers unmap a minimised client, so it is not viewable then.
    bool Minimised(WindowId window) const;

    Display* display() const { return display_; }

private:
    Display* display_;
    mutable std::unordered_map<std::string, AtomId> atoms_;
};

}  // namespace x11
