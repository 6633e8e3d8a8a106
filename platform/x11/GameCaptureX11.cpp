#include "GameCaptureX11.h"

namespace x11 {

std::unique_ptr<GameCaptureX11> GameCaptureX11::Create(platform::WindowId window) {
    auto tracker = WindowTrackerX11::Create();
    auto grabber = ScreenGrabberX11::Create();
    if (!tracker || !grabber) return nullptr;
    return std::unique_ptr<GameCaptureX11>(new GameCaptureX11(window, std::move(tracker), std::move(grabber)));
}

GameCaptureX11::GameCaptureX11(platform::WindowId window, std::unique_ptr<WindowTrackerX11> tracker,
                               std::unique_ptr<ScreenGrabberX11> grabber)
    : window_(window), tracker_(std::move(tracker)), grabber_(std::move(grabber)) {}

GameCaptureX11::State GameCaptureX11::Look(platform::PictureSize* size) {
    if (!tracker_->Exists(window_)) return State::Gone;
    // An iconified X11 window keeps its size, so minimised is asked first.
    if (tracker_->IsMinimised(window_)) return State::Minimised;
    ScreenRect rect;
    // Vanished between the two questions: the next look says so.
    if (!tracker_->ClientRect(window_, &rect)) return State::Minimised;
    rect_ = rect;
    *size = {rect.Width(), rect.Height()};
    return State::Shown;
}

GameCaptureX11::Result GameCaptureX11::Capture(int width, int rows, platform::Picture* picture) {
    return grabber_->Grab(window_, rect_, width, rows, picture) ? Result::Fresh : Result::Failed;
}

bool GameCaptureX11::PointerAt(int* x, int* y) {
    int rootX = 0, rootY = 0;
    if (!tracker_->PointerPosition(&rootX, &rootY)) return false;
    // The standard arrow is drawn wherever the pointer is over the game, whatever its shape.
    const int px = rootX - rect_.left;
    const int py = rootY - rect_.top;
    if (px < 0 || py < 0 || px >= rect_.Width() || py >= rect_.Height()) return false;
    *x = px;
    *y = py;
    return true;
}

void GameCaptureX11::BringToFront() { tracker_->Activate(window_); }

}  // namespace x11
