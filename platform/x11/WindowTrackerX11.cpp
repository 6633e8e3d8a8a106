#include "WindowTrackerX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "ActivateWindow.h"
#include "XDisplayRetry.h"
#include "XErrorTrap.h"

namespace x11 {

std::unique_ptr<WindowTrackerX11> WindowTrackerX11::Create() {
    DisplayPtr display = OpenDisplayRetrying();
    if (!display) return nullptr;
    return std::unique_ptr<WindowTrackerX11>(new WindowTrackerX11(std::move(display)));
}

WindowTrackerX11::WindowTrackerX11(DisplayPtr display) : display_(std::move(display)), properties_(display_.get()) {}

bool WindowTrackerX11::Exists(platform::WindowId window) {
    if (window == 0) return false;
    XWindowAttributes attributes;
    XErrorTrap trap(display_.get());
    const Status ok = XGetWindowAttributes(display_.get(), window, &attributes);
    return trap.GetLastErrorAndDisable() == 0 && ok != 0;
}

bool WindowTrackerX11::ClientRect(platform::WindowId window, ScreenRect* rect) {
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

bool WindowTrackerX11::IsMinimised(platform::WindowId window) { return properties_.Minimised(window); }

void WindowTrackerX11::Activate(platform::WindowId window) { ActivateWindow(display_.get(), window); }

bool WindowTrackerX11::PointerPosition(int* x, int* y) {
    Display* d = display_.get();
    Window root = 0, child = 0;
    int winX = 0, winY = 0;
    unsigned mask = 0;
    return XQueryPointer(d, DefaultRootWindow(d), &root, &child, x, y, &winX, &winY, &mask) != 0;
}

}  // namespace x11
