#pragma once

#include <memory>

#include "GameCapture.h"
#include "ScreenGrabberX11.h"
#include "WindowTrackerX11.h"

namespace x11 {

// A game's X11 window on this display: its client area read by ScreenGrabberX11 (the window's
// own contents through Composite, else the screen area), its state and size by
// WindowTrackerX11. Taken for every game that has an X11 window, in X11 sessions and under
// Xwayland alike: the exact window, without asking the member. Each piece keeps a display
// connection of its own.
class GameCaptureX11 final : public platform::IGameCapture {
public:
    // Null when no display can be opened.
    static std::unique_ptr<GameCaptureX11> Create(platform::WindowId window);

    State Look(platform::PictureSize* size) override;
    Result Capture(int width, int rows, platform::Picture* picture) override;
    bool PointerAt(int* x, int* y) override;
    void BringToFront() override;

    platform::WindowId Window() const { return window_; }
    // The grabber, for the tests and the benchmark that choose its path.
    ScreenGrabberX11& Grabber() { return *grabber_; }

private:
    GameCaptureX11(platform::WindowId window, std::unique_ptr<WindowTrackerX11> tracker,
                   std::unique_ptr<ScreenGrabberX11> grabber);

    platform::WindowId window_;
    std::unique_ptr<WindowTrackerX11> tracker_;
    std::unique_ptr<ScreenGrabberX11> grabber_;
    // Where the client area lay when Look last saw it.
    ScreenRect rect_;
};

}  // namespace x11
