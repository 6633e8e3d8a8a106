#include "XErrorTrap.h"

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>

namespace x11 {
namespace {

thread_local int tlsErrorCode = 0;
thread_local int tlsDepth = 0;

int RecordError(Display*, XErrorEvent* event) {
    if (tlsDepth > 0 && tlsErrorCode == 0) tlsErrorCode = event->error_code;
    return 0;
}

// Installed once and left in place: swapping handlers per trap races between threads.
void InstallHandler() {
    static std::once_flag once;
    std::call_once(once, [] { XSetErrorHandler(RecordError); });
}

}  // namespace

XErrorTrap::XErrorTrap(Display* display) : display_(display), savedCode_(tlsErrorCode) {
    InstallHandler();
    ++tlsDepth;
    tlsErrorCode = 0;
}

XErrorTrap::~XErrorTrap() { GetLastErrorAndDisable(); }

int XErrorTrap::GetLastErrorAndDisable() {
    if (!active_) return tlsErrorCode;
    if (display_ != nullptr) XSync(display_, False);
    active_ = false;
    --tlsDepth;
    const int code = tlsErrorCode;
    tlsErrorCode = savedCode_ != 0 ? savedCode_ : code;
    return code;
}

}  // namespace x11
