#pragma once

#include <memory>
#include <optional>
#include <string>

#include "GameCapture.h"
#include "PipeWireStream.h"
#include "ScreenCastPortal.h"

namespace pipewire {

// A game that is a native Wayland client, shared by the desktop's ScreenCast portal (a window
// where the portal offers windows, else a monitor) and received as a PipeWire stream. Taken
// only in a Wayland session and only for a game without an X11 window. The portal tells
// nothing about minimising: the last picture keeps being sent. The size is the shared area's
// (the crop of a window stream); the portal closing the session, a stream error or a removed
// node mean the game is gone. The pointer is drawn by the compositor where the portal offers
// that; else, where the portal reports it beside the picture, the caller draws its arrow there;
// otherwise it is left out.
class GameCapturePortal final : public platform::IGameCapture {
public:
    // Asks the portal (its picker shows unless `restoreToken` is accepted) and connects to the
    // stream, waiting for its first picture. Null with `failure` set when the member cancelled,
    // the portal refused or is missing, or no picture came. `answeredToken` is set once the
    // portal answered Start, even when the open failed after that (no remote, no PipeWire
    // connection, no first picture): the portal honours `restoreToken` once, and this replaces
    // it. Left alone when Start never answered, so `restoreToken` is still good.
    static std::unique_ptr<GameCapturePortal> Open(const std::string& restoreToken, std::string* failure,
                                                   std::optional<std::string>* answeredToken = nullptr);
    // Withdraws the portal requests the Opens under way on this thread wait for (they run the
    // thread's events while the member is in the picker): those Opens then fail at once.
    static void WithdrawOpens() { portal::ScreenCastPortal::WithdrawWaits(); }
    // A stream connected by other means, without a portal session to watch (a producer of the
    // tests' own).
    static std::unique_ptr<GameCapturePortal> OfStream(std::unique_ptr<PipeWireStream> stream);
    ~GameCapturePortal() override;

    State Look(platform::PictureSize* size) override;
    Result Capture(int width, int rows, platform::Picture* picture) override;
    bool PointerAt(int* x, int* y) override { return stream_->PointerAt(x, y); }
    // A Wayland client may not raise another's window.
    void BringToFront() override {}
    std::string RestoreToken() const override { return restoreToken_; }

private:
    GameCapturePortal(std::unique_ptr<portal::ScreenCastPortal> portal, std::unique_ptr<PipeWireStream> stream,
                      std::string restoreToken);

    std::unique_ptr<portal::ScreenCastPortal> portal_;
    std::unique_ptr<PipeWireStream> stream_;
    std::string restoreToken_;
};

}  // namespace pipewire
