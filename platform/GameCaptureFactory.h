#pragma once

#include <memory>
#include <optional>
#include <string>

#include "GameCapture.h"

namespace platform {

// Chooses the capture backend for the game the member chose, the one place that knows them:
// - the game has an X11 window on this display (an X11 session, or an X11 game under
//   Xwayland): that window, read through Composite (x11/GameCaptureX11);
// - it has none and the session is Wayland: the desktop's ScreenCast portal, which shows its
//   picker unless `source.restoreToken` is accepted, and the PipeWire stream it hands over
//   (pipewire/GameCapturePortal).
// Null when neither applies or the capture cannot be set up; `failure` then says why, for the
// log. `answeredToken` is set when the portal answered with a token, even if the open failed
// afterwards: what the caller keeps instead of `source.restoreToken`, which was good for one
// use. Runs on the user-interface thread: the portal's answers arrive there.
std::unique_ptr<IGameCapture> OpenGameCapture(const GameSource& source, std::string* failure = nullptr,
                                              std::optional<std::string>* answeredToken = nullptr);

// Gives up the opens under way on this thread, from inside them: OpenGameCapture waits for the
// portal's answer (the member in its picker, up to minutes) in a nested event loop, where the
// member's stop and quit arrive. The portal's request is withdrawn and the open returns null.
void WithdrawGameCaptureOpens();

// Whether a game without an X11 window can still be captured here: the session is Wayland
// (WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland).
bool WaylandSession();

}  // namespace platform
