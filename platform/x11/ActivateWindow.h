#pragma once

typedef struct _XDisplay Display;

namespace x11 {

// Brings `window` to the front as a taskbar does when the user picks it: an EWMH
// _NET_ACTIVE_WINDOW request marked as coming from a user's action (source indication 2), which
// window managers honour where they would refuse an application's own request (source 1) to take
// the focus; then a raise, which is all there is without a manager. Every caller acts on the
// member's own choice of a game window (choosing it, starting the broadcast of it). False, with
// nothing sent, when the window is gone.
bool ActivateWindow(Display* display, unsigned long window);

}  // namespace x11
