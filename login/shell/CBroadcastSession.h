#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "CData.h"
#include "AudioInput.h"
#include "CStreamSettings.h"
#include "ILiveOwner.h"
#include "StreamHealth.h"
#include "GameCapture.h"

// The part of the capture sender the session drives (CSendDataStream in the program).
class ILiveSender {
public:
    virtual ~ILiveSender() = default;
    // 1 when broadcasting has begun.
    virtual int Start(std::shared_ptr<platform::IGameCapture> capture, const std::string& processName) = 0;
    // After a refused start: lets go of the capture it was given, so the game is not kept shared
    // while the sender waits for the next try.
    virtual void ReleaseCapture() = 0;
    // How the broadcast is doing, while it runs; null where the sender keeps no figures.
    virtual const StreamHealth* Health() const { return nullptr; }
};

// The member's choice as the settings window and the audio source list hold it.
struct ChosenSettings {
    int bitRate = 500000;
    MY_DATA_SPACE::AudioRecord audio;
    MY_DATA_SPACE::VideoRecord video;
    std::string savePath;
    // The selected audio source entry: nullopt for "不直播声音".
    std::optional<platform::AudioSourceChoice> audioDevice;
};

// What the session asks of the world around it. The program wires the service requests, the
// game's capture and the real sender; tests give fakes.
struct BroadcastServices {
    // Asks the service for a stream and stores pipName/pipUrl/lid in CData; false when the
    // request itself failed.
    std::function<bool(const std::string& gameName, const std::string& introduction)> requestStreamInfo;
    std::function<void()> sendEndNotice;
    // ResolveStreamUrl.
    std::function<bool(const std::string& url, std::string& resolved)> resolveStreamUrl;
    // The capture of the chosen game (its window, or the desktop's portal for a game without
    // one); null when it cannot be captured. `answeredToken` is set when the portal answered with
    // a new token, which replaces `game.restoreToken` even if the open failed after that.
    std::function<std::shared_ptr<platform::IGameCapture>(const platform::GameSource& game,
                                                          const std::string& processName,
                                                          std::optional<std::string>* answeredToken)>
        openCapture;
    // Gives up the open under way (called from inside openCapture, whose wait for the portal
    // runs the window's events): its request is withdrawn and openCapture soon returns.
    std::function<void()> cancelOpen;
    std::function<std::unique_ptr<ILiveSender>(ILiveOwner* owner, const CStreamSettings* settings,
                                               std::shared_ptr<platform::IGameCapture> capture)>
        makeSender;
    std::function<ChosenSettings()> readSettings;
    // A modal message in the skinned box.
    std::function<void(const std::string& text)> message;
};

// One broadcast at a time for the main control window: the stream request, the stream settings,
// the sender's life and the stop rules. Everything runs on the user-interface thread; the
// window carries out the sender's notifications there before calling LiveStop/UserStop.
class CBroadcastSession {
public:
    CBroadcastSession(MY_DATA_SPACE::CData& data, BroadcastServices services, ILiveOwner* owner);
    // Ends a running broadcast (and tells the service), like the window's destruction.
    ~CBroadcastSession();
    CBroadcastSession(const CBroadcastSession&) = delete;
    CBroadcastSession& operator=(const CBroadcastSession&) = delete;

    // The start button asks to continue after a broadcast that was interrupted (resized, cut).
    bool OffersContinue() const { return interrupted_ == 1; }
    void DeclineContinue() { interrupted_ = 0; }
    // Yes to "是否要继续直播": a new start with the previous game and stream, no new request.
    int ContinueBroadcast() { return StartBroadcast(lastGame_, lastProcess_); }

    // The game dialog's confirmation: asks for a stream, then starts. 1 when broadcasting.
    // The game's process (`game.pid`) is also whose own sound the "game sound only" entry records.
    int RequestBroadcast(const std::string& gameName, const std::string& introduction,
                         const platform::GameSource& game, const std::string& processName);
    // Opens the game's capture, builds the settings from its size, creates the sender when there
    // is none and starts it. 1 when broadcasting; on failure the messages have been shown, except
    // when a stop or End withdrew the open meanwhile (Opening).
    int StartBroadcast(const platform::GameSource& game, const std::string& processName);

    // The end of a broadcast (WM_LIVE_STOP): destroys the sender, lets the game's capture go (the
    // desktop stops sharing it), clears the flags and answers the words to show once the window
    // is back at rest.
    std::string LiveStop(int reason);
    // The stop button, and the loss of the game window: the service is told first.
    std::string UserStop();
    // The window is going: settings into CData, the service told, the sender destroyed. Once.
    void End();
    // A stop or End while the game's capture is being opened (the portal's picker on screen)
    // withdraws the open: the start then fails without a word, and nothing is left shared.
    // The session itself must outlive that start: the window defers its end until then.
    bool Opening() const { return opening_; }

    int Broadcasting() const { return broadcasting_; }
    int Interrupted() const { return interrupted_; }
    const CStreamSettings* Settings() const { return streamSettings_.get(); }
    ILiveSender* Sender() const { return sender_.get(); }
    // Counts the broadcasts started; a notification of an older one is stale.
    // Read by the sender's threads as they post their notifications.
    unsigned Generation() const { return generation_.load(); }

private:
    // 1 when the record is complete; 0 when the game could not be captured or measured.
    int BuildStreamSettings(const platform::GameSource& game, const std::string& processName,
                            const ChosenSettings& chosen);
    void StoreSettings(const ChosenSettings& chosen);
    void CancelOpen();

    MY_DATA_SPACE::CData& data_;
    BroadcastServices services_;
    ILiveOwner* owner_;
    int broadcasting_ = 0;
    int interrupted_ = 0;
    std::unique_ptr<CStreamSettings> streamSettings_;
    std::unique_ptr<ILiveSender> sender_;
    std::shared_ptr<platform::IGameCapture> capture_;
    platform::GameSource lastGame_;
    std::string lastProcess_;
    std::atomic<unsigned> generation_{0};
    bool ended_ = false;
    bool opening_ = false;
    bool openCancelled_ = false;
};
