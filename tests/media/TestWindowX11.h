#pragma once

// A plain X11 window for the capture tests, painted with four known quadrants: red top left,
// green top right, blue bottom left, white bottom right.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>

#include <chrono>
#include <stdexcept>

#include "XDisplayRetry.h"

namespace testsupport {

class TestWindowX11 {
public:
    TestWindowX11(int x, int y, int width, int height) : width_(width), height_(height) {
        display_ = x11::OpenDisplayRetrying();
        if (!display_) throw std::runtime_error("cannot open the display");
        Display* d = display_.get();
        XSetWindowAttributes attributes{};
        attributes.background_pixel = BlackPixel(d, DefaultScreen(d));
        window_ = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWBackPixel, &attributes);
        // Under a window manager the window is mapped when the manager has framed it, and
        // whatever was drawn before is lost: paint once it is mapped, and again when exposed.
        XSelectInput(d, window_, StructureNotifyMask | ExposureMask);
        XMapRaised(d, window_);
        XSync(d, False);
        WaitForEvent(MapNotify);
        Paint();
    }
    ~TestWindowX11() { Destroy(); }

    void Paint() {
        Display* d = display_.get();
        GC gc = XCreateGC(d, window_, 0, nullptr);
        const unsigned long colours[4] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};
        const int w = width_ / 2, h = height_ / 2;
        for (int i = 0; i < 4; ++i) {
            XSetForeground(d, gc, colours[i]);
            XFillRectangle(d, window_, gc, (i % 2) * w, (i / 2) * h, static_cast<unsigned>(width_ - w),
                           static_cast<unsigned>(height_ - h));
        }
        XFreeGC(d, gc);
        XSync(d, False);
    }
    void Move(int x, int y) {
        Pump();
        XMoveWindow(display_.get(), window_, x, y);
        Settle(ConfigureNotify);
    }
    void Resize(int width, int height) {
        width_ = width;
        height_ = height;
        Pump();
        XResizeWindow(display_.get(), window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
        Settle(ConfigureNotify);
    }
    // What a window manager does on iconify: the ICCCM state, and the window unmapped.
    void Iconify(bool iconic) {
        Display* d = display_.get();
        const Atom wmState = XInternAtom(d, "WM_STATE", False);
        long state[2] = {iconic ? IconicState : NormalState, 0};
        Pump();
        XChangeProperty(d, window_, wmState, wmState, 32, PropModeReplace, reinterpret_cast<unsigned char*>(state), 2);
        if (iconic)
            XUnmapWindow(d, window_);
        else
            XMapRaised(d, window_);
        Settle(iconic ? UnmapNotify : MapNotify);
    }
    // The EWMH way of saying the same.
    void SetHidden(bool hidden) {
        Display* d = display_.get();
        const Atom netState = XInternAtom(d, "_NET_WM_STATE", False);
        Atom atoms[1] = {XInternAtom(d, "_NET_WM_STATE_HIDDEN", False)};
        if (hidden)
            XChangeProperty(d, window_, netState, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(atoms), 1);
        else
            XDeleteProperty(d, window_, netState);
        XSync(d, False);
    }
    void WarpPointer(int rootX, int rootY) {
        Display* d = display_.get();
        XWarpPointer(d, None, DefaultRootWindow(d), 0, 0, 0, 0, rootX, rootY);
        XSync(d, False);
    }
    void Destroy() {
        if (window_ == 0) return;
        XDestroyWindow(display_.get(), window_);
        XSync(display_.get(), False);
        window_ = 0;
    }
    unsigned long Id() const { return window_; }

    // Repaints when the server asks for it (a window manager's frame, a cover removed).
    void Pump() {
        Display* d = display_.get();
        bool exposed = false;
        while (XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            exposed |= event.type == Expose;
        }
        if (exposed && window_ != 0) Paint();
    }

    // Waits (at most 5 s) for an event of `type` on the window.
    bool WaitForEvent(int type) {
        Display* d = display_.get();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            while (XPending(d) > 0) {
                XEvent event;
                XNextEvent(d, &event);
                if (event.type == type) return true;
            }
            pollfd pfd{ConnectionNumber(d), POLLIN, 0};
            poll(&pfd, 1, 50);
        }
        return false;
    }

private:
    // Waits until the server reports the change (`type` on the window), then paints again: a
    // resize or a new mapping loses what was drawn.
    void Settle(int type) {
        XSync(display_.get(), False);
        WaitForEvent(type);
        if (window_ != 0) Paint();
    }

    x11::DisplayPtr display_;
    Window window_ = 0;
    int width_;
    int height_;
};

}  // namespace testsupport
