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
#include "ScreenCapture.h"

// Drives one broadcast of one game window: every timer tick reads the window's client area
// (pointer drawn in) and hands the picture to the encoder; the audio capture thread hands
// it sound blocks, silenced when sound is off or the window is minimised. It watches the window
// (gone, minimised, resized), reopens the stream once when it breaks, and tells its owner when
// the broadcast has to end. The owner destroys it in answer, on its own thread.
class CSendDataStream : public CAdoFrameHandler, public CMMTimers {
public:
    // The platform pieces the sender works with (tests give fakes).
    struct Platform {
        std::unique_ptr<platform::IWindowTracker> windows;
        std::unique_ptr<platform::IScreenGrabber> grabber;
        std::unique_ptr<CCaptureAudio> audio;
    };

    // X11 and PulseAudio. `startRect` is the window's client area now.
    CSendDataStream(ILiveOwner* owner, const CStreamSettings* settings, platform::WindowId window);
    CSendDataStream(ILiveOwner* owner, const CStreamSettings* settings, platform::WindowId window, Platform platform);
    ~CSendDataStream() override;

    // 1 when broadcasting has begun; 0 for a null window, no display, or when the stream or
    // (with sound on) the sound source cannot be opened.
    int Start(platform::WindowId window, const std::string& processName);
    // Always 1. Stops the timer, the audio capture and the encoder, in that order.
    int Stop();

    void OnTimer() override;
    void OnAudioFrame(unsigned char* buffer, int bytes) override;

    int Started() const { return started_.load(); }
    int Paused() const { return paused_.load(); }
    int DisplayBits() const { return displayBits_; }
    const platform::ScreenRect& StartRect() const { return startRect_; }
    // How many times a broken stream was reopened (successfully or not).
    int Reopens() const { return reopens_.load(); }
    const CStreamEncoder& Encoder() const { return encoder_; }
    const CCaptureAudio& AudioCapture() const { return *audioCapture_; }

    // Classes of colour depth: 1, 4, 8, 24 or 32 bits.
    static int ClassifyDepth(int bits);

private:
    int OpenPipeline();
    // 1 fresh picture, 0 keep the previous one, -1 nothing to send, -2 resized while visible.
    int CaptureWindow();
    bool GrabPicture(const platform::ScreenRect& rect);
    void ForgetPicture();
    // After either call the object may already be destroyed: callers return at once.
    void NotifyEnd(int reason);
    void NotifyWindowLost();

    ILiveOwner* owner_;
    std::unique_ptr<CCaptureAudio> audioCapture_;
    const CStreamSettings* settings_;
    std::atomic<int> started_{0};
    platform::WindowId targetWindow_ = 0;
    std::string processName_;
    platform::ScreenRect startRect_;
    int clientArea_ = 1;
    std::atomic<int> paused_{0};
    std::unique_ptr<platform::IWindowTracker> windows_;
    std::unique_ptr<platform::IScreenGrabber> grabber_;
    CStreamEncoder encoder_;
    int displayBits_ = 0;
    int rowBytes_ = 0;
    // Black 32-bit pixels: the picture sent until the first grab succeeds.
    std::vector<unsigned char> frameBuffer_;
    // The picture sent on the next tick: the grabber's last one, or frameBuffer_.
    platform::Picture picture_;
    std::atomic<bool> endNotified_{false};
    std::atomic<int> reopens_{0};
};
