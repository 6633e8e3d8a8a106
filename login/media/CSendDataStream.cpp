#include "CSendDataStream.h"

#include <cstring>

#include "ScreenGrabberX11.h"
#include "WindowTrackerX11.h"

namespace {

CSendDataStream::Platform NativePlatform() {
    CSendDataStream::Platform p;
    p.windows = x11::WindowTrackerX11::Create();
    p.grabber = x11::ScreenGrabberX11::Create();
    p.audio = std::make_unique<CCaptureAudio>();
    return p;
}

}  // namespace

CSendDataStream::CSendDataStream(ILiveOwner* owner, const CStreamSettings* settings, platform::WindowId window)
    : CSendDataStream(owner, settings, window, NativePlatform()) {}

CSendDataStream::CSendDataStream(ILiveOwner* owner, const CStreamSettings* settings, platform::WindowId window,
                                 Platform platform)
    : CMMTimers(1),
      owner_(owner),
      audioCapture_(platform.audio ? std::move(platform.audio) : std::make_unique<CCaptureAudio>()),
      settings_(settings),
      windows_(std::move(platform.windows)),
      grabber_(std::move(platform.grabber)),
      encoder_(settings) {
    if (windows_) windows_->ClientRect(window, &startRect_);
}

CSendDataStream::~CSendDataStream() {
    // The owner is ending the broadcast: a tick that is reopening a broken stream gives its
    // connection up rather than keep the owner waiting on a network that has gone, and tells
    // the owner nothing more.
    endNotified_ = true;
    encoder_.CancelOpen();
    // The timer goes first: once it is joined no tick can reach the members below.
    StopTimer();
    Stop();
}

int CSendDataStream::ClassifyDepth(int bits) {
    if (bits <= 1) return 1;
    if (bits <= 4) return 4;
    if (bits <= 8) return 8;
    if (bits <= 24) return 24;
    return 32;
}

int CSendDataStream::Start(platform::WindowId window, const std::string& processName) {
    Stop();  // a sender is started once at a time
    targetWindow_ = window;
    processName_ = processName;
    if (window == 0 || !windows_ || !grabber_) return 0;
    endNotified_ = false;
    started_ = OpenPipeline();
    return started_;
}

int CSendDataStream::OpenPipeline() {
    // Taken here rather than in Start: Stop clears them, and a reopened stream would otherwise
    // copy rows of no length and broadcast a black picture.
    displayBits_ = ClassifyDepth(grabber_->Depth());
    rowBytes_ = settings_->sourceWidth * 4;
    frameBuffer_.assign(static_cast<std::size_t>(rowBytes_) * settings_->sourceHeight, 0);
    ForgetPicture();
    if (!encoder_.Open(settings_->url, "flv")) return 0;
    // The window's own contents are read where the server allows it; where only the screen
    // can be copied, the game has to be in front.
    windows_->Activate(targetWindow_);
    StartTimerAtRate(static_cast<unsigned>(settings_->frameRate > 0 ? settings_->frameRate : 1), false);

    audioCapture_->SetFormat(settings_->sampleRate, settings_->bitsPerSample, settings_->channels);
    bool opened = audioCapture_->Open(settings_->audioDevice);
    // Without sound wanted, a member without a capture device (or sound server) still
    // broadcasts: silence paced by the clock takes the device's place.
    if (!opened && settings_->audioEnabled == 0) opened = audioCapture_->OpenSilence();
    if (!opened) {
        StopTimer();
        encoder_.Close();
        return 0;
    }
    audioCapture_->SetBlockBytes(encoder_.AudioFrameBytes());
    audioCapture_->Start(this);
    return 1;
}

void CSendDataStream::OnTimer() {
    // A tick between the timer's start and the end of Start, or after the owner was told to
    // end the broadcast, does nothing.
    if (started_ != 1 || endNotified_) return;
    const int captured = CaptureWindow();
    if (captured >= 0) {
        if (encoder_.SendPicture(CStreamEncoder::PixelLayout::Bgrx32, picture_.pixels, picture_.stride) != 0) return;
        // The stream broke (or the encoder failed): one reopening, then give up.
        Stop();
        started_ = OpenPipeline();
        ++reopens_;
        if (started_ == 1) return;
        NotifyEnd(kLiveStopConnection);
        return;
    }
    if (captured == -2) NotifyEnd(kLiveStopResized);
}

int CSendDataStream::CaptureWindow() {
    if (!windows_->Exists(targetWindow_)) {
        NotifyWindowLost();
        return -1;
    }
    // An iconified X11 window keeps its size, so minimised is asked first.
    if (windows_->IsMinimised(targetWindow_)) {
        paused_ = 1;
        return 0;
    }
    platform::ScreenRect rect;
    if (!windows_->ClientRect(targetWindow_, &rect)) return -1;  // vanished meanwhile: next tick tells
    if (rect.Width() == startRect_.Width() && rect.Height() == startRect_.Height()) {
        paused_ = 0;
        return GrabPicture(rect) ? 1 : -1;
    }
    if (paused_ == 0) return -2;
    paused_ = 1;
    return 0;
}

bool CSendDataStream::GrabPicture(const platform::ScreenRect& rect) {
    if (frameBuffer_.empty() || rowBytes_ <= 0) return false;
    platform::Picture picture;
    if (grabber_->Grab(targetWindow_, rect, settings_->sourceWidth, settings_->sourceHeight, &picture) &&
        picture.pixels != nullptr && picture.width == settings_->sourceWidth &&
        picture.height == settings_->sourceHeight) {
        picture_ = picture;
        return true;
    }
    // The grabber's earlier picture is gone with a failed grab.
    ForgetPicture();
    return false;
}

void CSendDataStream::ForgetPicture() {
    picture_ = {frameBuffer_.data(), settings_->sourceWidth, settings_->sourceHeight, rowBytes_};
}

void CSendDataStream::OnAudioFrame(unsigned char* buffer, int bytes) {
    if (buffer == nullptr) return;
    if (settings_->audioEnabled == 0 || paused_ == 1) std::memset(buffer, 0, static_cast<std::size_t>(bytes));
    encoder_.SendAudio(buffer, bytes);
}

int CSendDataStream::Stop() {
    StopTimer();
    if (started_ != 1) return 1;
    started_ = 0;
    audioCapture_->Stop();
    frameBuffer_.clear();
    picture_ = {};
    encoder_.Close();
    displayBits_ = 0;
    rowBytes_ = 0;
    return 1;
}

void CSendDataStream::NotifyEnd(int reason) {
    if (endNotified_.exchange(true)) return;
    ILiveOwner* owner = owner_;
    if (owner != nullptr) owner->PostLiveStop(reason);
}

void CSendDataStream::NotifyWindowLost() {
    if (endNotified_.exchange(true)) return;
    ILiveOwner* owner = owner_;
    if (owner != nullptr) owner->PostGameWindowLost();
}
