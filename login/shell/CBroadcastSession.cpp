#include "CBroadcastSession.h"

#include "PublishAddress.h"
#include "StreamSettingsBuilder.h"

using MY_DATA_SPACE::CData;

namespace {
constexpr const char* kNoGameViewMessage = "获取游戏界面出错";
// The game dialog's words when a game shows no window: here the desktop would not share it.
constexpr const char* kNoGameWindowMessage = "获取游戏窗口失败";
constexpr const char* kConnectFailedMessage = "连接服务器失败";
}  // namespace

CBroadcastSession::CBroadcastSession(CData& data, BroadcastServices services, ILiveOwner* owner)
    : data_(data), services_(std::move(services)), owner_(owner) {}

CBroadcastSession::~CBroadcastSession() { End(); }

int CBroadcastSession::RequestBroadcast(const std::string& gameName, const std::string& introduction,
                                        const platform::GameSource& game, const std::string& processName) {
    if (!services_.requestStreamInfo(gameName, introduction)) {
        services_.message("获取信息失败");
        return 0;
    }
    return StartBroadcast(game, processName);
}

int CBroadcastSession::BuildStreamSettings(const platform::GameSource& game, const std::string& processName,
                                           const ChosenSettings& chosen) {
    std::string server;
    if (!services_.resolveStreamUrl(data_.PipUrl(), server)) server = data_.PipUrl();

    // The capture of the last broadcast goes first: a desktop shares one game once at a time.
    capture_.reset();
    platform::GameSource source = game;
    // Without an X11 window the desktop's portal is asked for the game; what it answered last
    // time lets it share the same window again without its picker.
    const bool portal = game.window == 0;
    if (portal) source.restoreToken = data_.CaptureToken(processName);
    std::optional<std::string> answered;
    if (game.window != 0 || game.pid != 0) {
        // The portal's answer is waited for in a nested event loop: the window's events, a stop
        // or the window's end among them, come back into this session meanwhile (CancelOpen).
        opening_ = true;
        capture_ = services_.openCapture(source, processName, &answered);
        opening_ = false;
    }
    // A token is good for one use. Once the portal answered Start it has spent the old one (or,
    // having refused it, asked the member through its picker): its new token replaces it, even
    // when the open failed after that (no PipeWire connection, no first picture). An open that
    // failed before Start answered keeps the old one: a portal that was away or slow this time
    // may honour it next time, and one that refuses it only brings the picker back.
    if (portal && capture_) data_.SetCaptureToken(processName, capture_->RestoreToken());
    else if (portal && answered) data_.SetCaptureToken(processName, *answered);
    if (openCancelled_) {
        capture_.reset();
        return 0;
    }
    if (!capture_) {
        services_.message(portal ? kNoGameWindowMessage : kNoGameViewMessage);
        return 0;
    }
    capture_->BringToFront();
    platform::PictureSize client;
    const bool measured = capture_->Look(&client) == platform::IGameCapture::State::Shown;
    const PictureSize size = ComputePictureSize(client.width, client.height, chosen.video.sizePercent);
    // A window too small (or too large) for a picture counts as one that cannot be measured.
    if (!measured || !PictureSizeUsable(size)) {
        services_.message(kNoGameViewMessage);
        return 0;
    }
    if (!streamSettings_) streamSettings_ = std::make_unique<CStreamSettings>();
    CStreamSettings& s = *streamSettings_;
    s.sourceWidth = size.sourceWidth;
    s.sourceHeight = size.sourceHeight;
    s.width = size.width;
    s.height = size.height;
    s.url = PublishUrl(server, data_.PipName());
    ApplyChosenSettings(s, chosen.video, chosen.audio, chosen.bitRate);
    return 1;
}

void CBroadcastSession::StoreSettings(const ChosenSettings& chosen) {
    data_.SetBitRate(chosen.bitRate);
    data_.SetAudio(chosen.audio);
    data_.SetVideo(chosen.video);
    data_.SetSaveFile(chosen.savePath);
}

int CBroadcastSession::StartBroadcast(const platform::GameSource& game, const std::string& processName) {
    // One start at a time, even from the events that run while the portal is waited for.
    if (opening_) return 0;
    lastGame_ = game;
    lastProcess_ = processName;
    const ChosenSettings chosen = services_.readSettings();
    openCancelled_ = false;
    const int built = BuildStreamSettings(game, processName, chosen);
    // Stopped while the portal was asked, or the window went while a message was up: nothing
    // more to start or say.
    if (openCancelled_ || ended_) {
        capture_.reset();
        return 0;
    }
    if (built) {
        streamSettings_->audioDevice = chosen.audioDevice;
        auto& device = streamSettings_->audioDevice;
        if (device && device->kind == platform::AudioSourceChoice::Kind::GameOnly) device->gameProcess = game.pid;
    }

    // Without a complete record the sender would capture nothing sensible, and an address that
    // is not an RTMP server's (a local path, another protocol) is never handed to the encoder:
    // either way the start fails the way a refused connection does.
    const bool usable = built && IsPublishAddress(streamSettings_->url);
    if (usable && !sender_) sender_ = services_.makeSender(owner_, streamSettings_.get(), capture_);
    // Counted before the sender starts: its timer ticks from inside Start, and a stop it posts
    // from there belongs to this broadcast.
    ++generation_;
    broadcasting_ = usable && sender_ ? sender_->Start(capture_, processName) : 0;
    if (!broadcasting_) {
        // Not shared for nothing until the next try, which may never come.
        capture_.reset();
        if (sender_) sender_->ReleaseCapture();
        services_.message(kConnectFailedMessage);
        return 0;
    }
    StoreSettings(chosen);
    data_.SetRecording(0);
    data_.SetBroadcasting(1);
    // Written now rather than only at exit: a broadcast can end the program in ways that never
    // reach the data object's destructor, and the member's choice must survive them.
    data_.SaveFiles();
    return 1;
}

void CBroadcastSession::CancelOpen() {
    if (!opening_) return;
    openCancelled_ = true;
    if (services_.cancelOpen) services_.cancelOpen();
}

std::string CBroadcastSession::LiveStop(int reason) {
    CancelOpen();
    interrupted_ = 1;
    sender_.reset();
    // The sharing ends with the broadcast: a portal's session would otherwise keep the desktop's
    // "being shared" indicator on and PipeWire copying every changed picture until the next
    // start. The game's token stays in CData, so a continued broadcast opens it again unasked.
    capture_.reset();
    broadcasting_ = 0;
    data_.SetBroadcasting(0);
    ++generation_;
    return LiveStopMessage(reason);
}

std::string CBroadcastSession::UserStop() {
    if (broadcasting_ == 1) services_.sendEndNotice();
    std::string text = LiveStop(kLiveStopUser);
    interrupted_ = 2;
    return text;
}

void CBroadcastSession::End() {
    if (ended_) return;
    ended_ = true;
    CancelOpen();
    if (services_.readSettings) StoreSettings(services_.readSettings());
    data_.SetRecording(0);
    if (broadcasting_ == 1 && services_.sendEndNotice) services_.sendEndNotice();
    sender_.reset();
    capture_.reset();
    streamSettings_.reset();
    if (broadcasting_ == 1) data_.SetBroadcasting(0);
    broadcasting_ = 0;
}
