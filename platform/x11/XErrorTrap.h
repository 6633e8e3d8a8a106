#pragma once

typedef struct _XDisplay Display;

namespace x11 {

// While alive, X protocol errors on any display are recorded instead of ending the process
// (Xlib's default handler exits). Windows of other programs can vanish between two requests, so
// every request on a foreign window runs under a trap. Traps nest; the handler is process-wide,
// so the recorded code is kept per thread.
class XErrorTrap {
public:
    explicit XErrorTrap(Display* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Syncs with the server and returns the first error code seen since construction (0: none).
    int GetLastErrorAndDisable();

private:
    Display* display_;
    int savedCode_;
    bool active_ = true;
};

}  // namespace x11
