// A stand-in for a running game: shows `count` top-level X11 windows (or keeps them unmapped,
// or minimised, or opens none), prints "ready" and their ids, and runs until its standard input
// closes.
// Usage: game_window_helper none|window|hidden|minimised|two
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "none";
    Display* display = nullptr;
    std::vector<Window> windows;
    if (mode != "none") {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            std::fprintf(stderr, "game_window_helper: no display\n");
            return 1;
        }
        const int count = mode == "two" ? 2 : 1;
        const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
        const long pid = getpid();
        for (int i = 0; i < count; ++i) {
            const Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), 10 + 40 * i, 10, 200, 150, 0, 0,
                                                 0xFFFFFF);
            XChangeProperty(display, w, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&pid), 1);
            XStoreName(display, w, "strimo test game");
            if (mode == "minimised") {
                // What a window manager leaves of a minimised window: unmapped, in IconicState.
                const Atom wmState = XInternAtom(display, "WM_STATE", False);
                const long state[2] = {IconicState, 0};
                XChangeProperty(display, w, wmState, wmState, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(state), 2);
            } else if (mode != "hidden") {
                XMapWindow(display, w);
            }
            windows.push_back(w);
        }
        XSync(display, False);
    }
    std::printf("ready");
    for (const Window w : windows) std::printf(" %lu", static_cast<unsigned long>(w));
    std::printf("\n");
    std::fflush(stdout);
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    if (display != nullptr) XCloseDisplay(display);
    return 0;
}
