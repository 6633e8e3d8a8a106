#pragma once

#include <memory>

#include "ScreenCapture.h"
#include "XDisplay.h"

namespace x11 {

// Copies the root window: MIT-SHM (XShmGetImage) when the server offers it, else XGetImage.
// Owns its display connection and the shared segment; used from one thread at a time.
class ScreenGrabberX11 final : public platform::IScreenGrabber {
public:
    // Null when no display can be opened.
    static std::unique_ptr<ScreenGrabberX11> Create();
    ~ScreenGrabberX11() override;

    int Depth() override;
    bool Grab(int left, int top, int width, int rows, unsigned char* out, int rowBytes) override;

    // True when the last grab came through the shared segment.
    bool UsedShm() const { return usedShm_; }
    // Never use the shared segment (to exercise the plain path).
    void DisableShm() { shmAvailable_ = false; }

private:
    struct Shm;
    explicit ScreenGrabberX11(DisplayPtr display);
    bool GrabShm(int left, int top, int width, int rows, unsigned char* out, int rowBytes);
    bool GrabPlain(int left, int top, int width, int rows, unsigned char* out, int rowBytes);

    DisplayPtr display_;
    bool shmAvailable_ = false;
    bool usedShm_ = false;
    std::unique_ptr<Shm> shm_;
};

}  // namespace x11
