#include "GameCaptureFactory.h"

#include <cstdlib>
#include <cstring>

#include "GameCapturePortal.h"
#include "GameCaptureX11.h"

namespace platform {

bool WaylandSession() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display != nullptr && *display != '\0') || (type != nullptr && std::strcmp(type, "wayland") == 0);
}

std::unique_ptr<IGameCapture> OpenGameCapture(const GameSource& source, std::string* failure,
                                              std::optional<std::string>* answeredToken) {
    std::string why;
    std::unique_ptr<IGameCapture> capture;
    if (source.window != 0) {
        capture = x11::GameCaptureX11::Create(source.window);
        if (!capture) why = "the X display cannot be opened";
    } else if (WaylandSession()) {
        capture = pipewire::GameCapturePortal::Open(source.restoreToken, &why, answeredToken);
    } else {
        why = "the game has no window on this display";
    }
    if (!capture && failure != nullptr) *failure = why;
    return capture;
}

void WithdrawGameCaptureOpens() { pipewire::GameCapturePortal::WithdrawOpens(); }

}  // namespace platform
