#include "CBroadcastSession.h"

#include "PublishAddress.h"
#include "StreamSettingsBuilder.h"

using MY_DATA_SPACE::CData;

namespace {
constexpr const char* kNoGameViewMessage = "获取游戏界面出错";
constexpr const char* kConnectFailedMessage = "连接服务器失败";
}  // namespace

CBroadcastSession::CBroadcastSession(CData& data, BroadcastServices services, ILiveOwner* owner)
    : data_(data), services_(std::move(services)), owner_(owner) {}

CBroadcastSession::~CBroadcastSession() { End(); }

int CBroadcastSession::RequestBroadcast(const std::string& gameName, const std::string& introduction,
                                        platform::WindowId window, const std::string& processName,
                                        long processId) {
    if (!services_.requestStreamInfo(gameName, introduction)) {
        services_.message("获取信息失败");
        return 0;
    }
    return StartBroadcast(window, processName, processId);
}

int CBroadcastSession::BuildStreamSettings(platform::WindowId window, const ChosenSettings& chosen) {
    if (!streamSettings_) streamSettings_ = std::make_unique<CStreamSettings>();
    CStreamSettings& s = *streamSettings_;
    std::string server;
    if (!services_.resolveStreamUrl(data_.PipUrl(), server)) server = data_.PipUrl();

    platform::ScreenRect client;
    const bool measured = window != 0 && services_.raiseAndMeasure(window, &client);
    const PictureSize size = ComputePictureSize(client.Width(), client.Height(), chosen.video.sizePercent);
    // A window too small (or too large) for a picture counts as one that cannot be measured.
    if (!measured || !PictureSizeUsable(size)) {
        services_.message(kNoGameViewMessage);
        return 0;
    }
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

int CBroadcastSession::StartBroadcast(platform::WindowId window, const std::string& processName, long processId) {
    lastWindow_ = window;
    lastProcess_ = processName;
    lastProcessId_ = processId;
    const ChosenSettings chosen = services_.readSettings();
    const int built = BuildStreamSettings(window, chosen);
    if (built) {
        streamSettings_->audioDevice = chosen.audioDevice;
        auto& device = streamSettings_->audioDevice;
        if (device && device->kind == platform::AudioSourceChoice::Kind::GameOnly) device->gameProcess = processId;
    }

    // Without a complete record the sender would capture nothing sensible, and an address that
    // is not an RTMP server's (a local path, another protocol) is never handed to the encoder:
    // either way the start fails the way a refused connection does.
    const bool usable = built && IsPublishAddress(streamSettings_->url);
    if (usable && !sender_) sender_ = services_.makeSender(owner_, streamSettings_.get(), window);
    // Counted before the sender starts: its timer ticks from inside Start, and a stop it posts
    // from there belongs to this broadcast.
    ++generation_;
    broadcasting_ = usable && sender_ ? sender_->Start(window, processName) : 0;
    if (!broadcasting_) {
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

std::string CBroadcastSession::LiveStop(int reason) {
    interrupted_ = 1;
    sender_.reset();
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
    if (services_.readSettings) StoreSettings(services_.readSettings());
    data_.SetRecording(0);
    if (broadcasting_ == 1 && services_.sendEndNotice) services_.sendEndNotice();
    sender_.reset();
    streamSettings_.reset();
    if (broadcasting_ == 1) data_.SetBroadcasting(0);
    broadcasting_ = 0;
}
