#include "GameCapturePortal.h"

#include <unistd.h>

namespace pipewire {
namespace {
// The first picture comes 40–175 ms after Start on the desktops we know.
constexpr int kFirstFrameMs = 5000;
}  // namespace

std::unique_ptr<GameCapturePortal> GameCapturePortal::Open(const std::string& restoreToken, std::string* failure,
                                                           std::optional<std::string>* answeredToken) {
    auto portal = std::make_unique<portal::ScreenCastPortal>();
    auto fail = [&](const std::string& why) {
        if (failure != nullptr) *failure = why;
        if (answeredToken != nullptr && portal->AnsweredToken()) *answeredToken = portal->AnsweredToken();
        return nullptr;
    };
    portal::SharedStream shared;
    if (!portal->Open(restoreToken, &shared)) return fail("the ScreenCast portal: " + portal->FailureText());
    std::string error;
    auto stream = PipeWireStream::Connect(
        shared.pipeWireFd, shared.nodeId,
        shared.cursorAsMetadata ? PipeWireStream::Pointer::AsMetadata : PipeWireStream::Pointer::InPicture, &error);
    if (!stream) return fail("PipeWire: " + error);
    if (!stream->WaitFirstFrame(kFirstFrameMs))
        return fail("PipeWire: " + (stream->Broken() ? stream->BrokenWhy() : std::string("no picture came")));
    if (answeredToken != nullptr) *answeredToken = shared.restoreToken;
    return std::unique_ptr<GameCapturePortal>(
        new GameCapturePortal(std::move(portal), std::move(stream), shared.restoreToken));
}

std::unique_ptr<GameCapturePortal> GameCapturePortal::OfStream(std::unique_ptr<PipeWireStream> stream) {
    return std::unique_ptr<GameCapturePortal>(new GameCapturePortal(nullptr, std::move(stream), {}));
}

GameCapturePortal::GameCapturePortal(std::unique_ptr<portal::ScreenCastPortal> portal,
                                     std::unique_ptr<PipeWireStream> stream, std::string restoreToken)
    : portal_(std::move(portal)), stream_(std::move(stream)), restoreToken_(std::move(restoreToken)) {}

// The stream goes before the portal session that shared it.
GameCapturePortal::~GameCapturePortal() { stream_.reset(); }

GameCapturePortal::State GameCapturePortal::Look(platform::PictureSize* size) {
    if ((portal_ != nullptr && portal_->Closed()) || stream_->Broken()) return State::Gone;
    *size = stream_->NewestSize();
    return State::Shown;
}

GameCapturePortal::Result GameCapturePortal::Capture(int width, int rows, platform::Picture* picture) {
    PipeWireStream::Frame frame;
    // Frames come only when the picture changes: nothing new is the last one again.
    if (!stream_->TakeNewest(&frame)) return Result::Unchanged;
    if (width > frame.width || rows > frame.height) return Result::Failed;  // shrunk: the next look says so
    *picture = {frame.pixels, width, rows, frame.stride, frame.layout};
    return Result::Fresh;
}

}  // namespace pipewire
