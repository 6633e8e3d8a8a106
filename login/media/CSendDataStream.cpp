#include "CSendDataStream.h"

#include <chrono>
#include <cstring>

#include "ArrowCursor.h"

CSendDataStream::CSendDataStream(ILiveOwner* owner, const CStreamSettings* settings,
                                 std::shared_ptr<platform::IGameCapture> capture, std::unique_ptr<CCaptureAudio> audio)
    : CMMTimers(1),
      owner_(owner),
      audioCapture_(audio ? std::move(audio) : std::make_unique<CCaptureAudio>()),
      settings_(settings),
      capture_(std::move(capture)),
      encoder_(settings) {
    if (capture_) capture_->Look(&startSize_);
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

int CSendDataStream::Start(std::shared_ptr<platform::IGameCapture> capture, const std::string& processName) {
    Stop();  // a sender is started once at a time
    // The last picture belongs to the capture that is being replaced.
    capturedPicture_ = false;
    picture_ = {};
    capture_ = std::move(capture);
    processName_ = processName;
    if (!capture_) return 0;
    endNotified_ = false;
    encoder_.Health().Begin(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count());
    started_ = OpenPipeline();
    if (started_ != 1) encoder_.Health().End();
    return started_;
}

int CSendDataStream::OpenPipeline() {
    // Taken here rather than in Start: Stop clears them, and a reopened stream would otherwise
    // copy rows of no length and broadcast a black picture.
    // Every capture hands over 32-bit pixels.
    displayBits_ = ClassifyDepth(32);
    rowBytes_ = settings_->sourceWidth * 4;
    frameBuffer_.assign(static_cast<std::size_t>(rowBytes_) * settings_->sourceHeight, 0);
    // A stream reopened after a break goes on with the capture's last picture: a game on the
    // portal sends a picture only when it changes, and would otherwise be black until then.
    if (!capturedPicture_) ForgetPicture();
    if (!encoder_.Open(settings_->url, "flv")) return 0;
    // The window's own contents are read where the server allows it; where only the screen
    // can be copied, the game has to be in front.
    capture_->BringToFront();
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
        const auto layout = picture_.layout == platform::PixelLayout::Rgbx ? CStreamEncoder::PixelLayout::Rgbx32
                                                                          : CStreamEncoder::PixelLayout::Bgrx32;
        if (encoder_.SendPicture(layout, picture_.pixels, picture_.stride) != 0) return;
        // The stream broke (or the encoder failed): one reopening, then give up.
        encoder_.Health().SetReconnecting(true);
        Stop();
        started_ = OpenPipeline();
        ++reopens_;
        encoder_.Health().SetReconnecting(false);
        if (started_ == 1) return;
        encoder_.Health().End();
        NotifyEnd(kLiveStopConnection);
        return;
    }
    if (captured == -2) NotifyEnd(kLiveStopResized);
}

int CSendDataStream::CaptureWindow() {
    platform::PictureSize size;
    switch (capture_->Look(&size)) {
    case platform::IGameCapture::State::Gone:
        NotifyWindowLost();
        return -1;
    case platform::IGameCapture::State::Minimised:
        paused_ = 1;
        return 0;
    case platform::IGameCapture::State::Shown:
        break;
    }
    // The window may move; only its size is watched.
    if (size == startSize_) {
        paused_ = 0;
        return GrabPicture();
    }
    if (paused_ == 0) return -2;
    paused_ = 1;
    return 0;
}

int CSendDataStream::GrabPicture() {
    if (frameBuffer_.empty() || rowBytes_ <= 0) return -1;
    platform::Picture picture;
    switch (capture_->Capture(settings_->sourceWidth, settings_->sourceHeight, &picture)) {
    case platform::IGameCapture::Result::Unchanged:
        return 1;  // the last picture again: the encoder's rate stays constant
    case platform::IGameCapture::Result::Fresh:
        if (picture.pixels != nullptr && picture.width == settings_->sourceWidth &&
            picture.height == settings_->sourceHeight && picture.stride >= picture.width * 4) {
            picture_ = picture;
            capturedPicture_ = true;
            // The standard arrow, whatever the pointer's shape over the game.
            int x = 0, y = 0;
            if (capture_->PointerAt(&x, &y))
                ArrowCursor::Draw(picture_.pixels, picture_.width, picture_.height, picture_.stride, x, y);
            return 1;
        }
        break;
    case platform::IGameCapture::Result::Failed:
        break;
    }
    // The capture's earlier picture is gone with a failed capture.
    ForgetPicture();
    return -1;
}

void CSendDataStream::ForgetPicture() {
    capturedPicture_ = false;
    picture_ = {frameBuffer_.data(), settings_->sourceWidth, settings_->sourceHeight, rowBytes_,
                platform::PixelLayout::Bgrx};
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
    if (!capturedPicture_) picture_ = {};
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
