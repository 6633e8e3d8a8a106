#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "CAdoFrameHandler.h"
#include "CCaptureAudio.h"
#include "CMMTimers.h"
#include "CStreamEncoder.h"
#include "CStreamSettings.h"
#include "ILiveOwner.h"
#include "GameCapture.h"

// Drives one broadcast of one game window: every timer tick reads the game's picture through
// its capture (the arrow drawn in where the pointer is over the game) and hands it to the
// encoder; the audio capture thread hands
// it sound blocks, silenced when sound is off or the window is minimised. It watches the window
// (gone, minimised, resized), reopens the stream once when it breaks, and tells its owner when
// the broadcast has to end. The owner destroys it in answer, on its own thread.
class CSendDataStream : public CAdoFrameHandler, public CMMTimers {
public:
    // `capture` reads the game (shared with the session, which measured the game through it);
    // the sender's start size is the game's size now. `audio` null: the member's sound server.
    CSendDataStream(ILiveOwner* owner, const CStreamSettings* settings,
                    std::shared_ptr<platform::IGameCapture> capture, std::unique_ptr<CCaptureAudio> audio = nullptr);
    ~CSendDataStream() override;

    // 1 when broadcasting has begun; 0 without a capture, or when the stream or (with sound on)
    // the sound source cannot be opened. A sender whose start failed may be started again for
    // another game: its start size stays the first game's.
    int Start(std::shared_ptr<platform::IGameCapture> capture, const std::string& processName);
    // Always 1. Stops the timer, the audio capture and the encoder, in that order.
    int Stop();

    void OnTimer() override;
    void OnAudioFrame(unsigned char* buffer, int bytes) override;

    int Started() const { return started_.load(); }
    int Paused() const { return paused_.load(); }
    int DisplayBits() const { return displayBits_; }
    const platform::PictureSize& StartSize() const { return startSize_; }
    // How many times a broken stream was reopened (successfully or not).
    int Reopens() const { return reopens_.load(); }
    const CStreamEncoder& Encoder() const { return encoder_; }
    // What the window shows of the broadcast while it runs.
    const StreamHealth& Health() const { return encoder_.Health(); }
    const CCaptureAudio& AudioCapture() const { return *audioCapture_; }

    // Classes of colour depth: 1, 4, 8, 24 or 32 bits.
    static int ClassifyDepth(int bits);

private:
    int OpenPipeline();
    // 1 fresh picture, 0 keep the previous one, -1 nothing to send, -2 resized while visible.
    int CaptureWindow();
    int GrabPicture();
    void ForgetPicture();
    // After either call the object may already be destroyed: callers return at once.
    void NotifyEnd(int reason);
    void NotifyWindowLost();

    ILiveOwner* owner_;
    std::unique_ptr<CCaptureAudio> audioCapture_;
    const CStreamSettings* settings_;
    std::atomic<int> started_{0};
    std::shared_ptr<platform::IGameCapture> capture_;
    std::string processName_;
    platform::PictureSize startSize_;
    std::atomic<int> paused_{0};
    CStreamEncoder encoder_;
    int displayBits_ = 0;
    int rowBytes_ = 0;
    // Black 32-bit pixels: the picture sent until the first grab succeeds.
    std::vector<unsigned char> frameBuffer_;
    // The picture sent on the next tick: the capture's last one, or frameBuffer_.
    platform::Picture picture_;
    bool capturedPicture_ = false;  // picture_ is the capture's
    std::atomic<bool> endNotified_{false};
    std::atomic<int> reopens_{0};
};
