#pragma once

// Fakes of the platform pieces under the capture sender, and owners that act as the main window
// does on the sender's notifications.

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "CSendDataStream.h"
#include "ILiveOwner.h"
#include "GameCapture.h"

namespace testsupport {

// A game whose capture answers what the test sets: its state, size and capture result, and
// where the pointer is. Shared between the test and the capture the sender owns.
class FakeGame {
public:
    struct State {
        platform::IGameCapture::State state = platform::IGameCapture::State::Shown;
        platform::PictureSize size{320, 240};
        platform::IGameCapture::Result result = platform::IGameCapture::Result::Fresh;
        bool pointerOver = false;
        int pointerX = 0;
        int pointerY = 0;
    };

    FakeGame() : capture_(std::make_shared<FakeCapture>(*this)) {}
    std::shared_ptr<platform::IGameCapture> Capture() { return capture_; }
    void Set(const std::function<void(State&)>& change) {
        std::lock_guard lock(mutex_);
        change(state_);
    }
    std::atomic<int> captures{0};  // calls of Capture, whatever they answered
    std::atomic<int> fresh{0};     // fresh pictures handed out
    std::atomic<int> activations{0};
    // The picture as the sender left it, copied at the start of the next capture (so with
    // whatever the sender drew into it).
    std::vector<unsigned char> LastHandedBack() {
        std::lock_guard lock(mutex_);
        return handedBack_;
    }

private:
    class FakeCapture : public platform::IGameCapture {
    public:
        explicit FakeCapture(FakeGame& game) : game_(game) {}
        State Look(platform::PictureSize* size) override {
            std::lock_guard lock(game_.mutex_);
            if (game_.state_.state == State::Shown) *size = game_.state_.size;
            return game_.state_.state;
        }
        Result Capture(int width, int rows, platform::Picture* picture) override {
            std::lock_guard lock(game_.mutex_);
            const int n = ++game_.captures;
            game_.handedBack_ = pixels_;
            const Result result = game_.state_.result;
            if (result != Result::Fresh) return result;
            ++game_.fresh;
            pixels_.resize(static_cast<size_t>(width) * rows * 4);
            for (int y = 0; y < rows; ++y)
                std::memset(pixels_.data() + static_cast<long>(y) * width * 4, (n * 7 + y) & 0xff,
                            static_cast<size_t>(width) * 4);
            *picture = {pixels_.data(), width, rows, width * 4, platform::PixelLayout::Bgrx};
            return result;
        }
        bool PointerAt(int* x, int* y) override {
            std::lock_guard lock(game_.mutex_);
            *x = game_.state_.pointerX;
            *y = game_.state_.pointerY;
            return game_.state_.pointerOver;
        }
        void BringToFront() override { ++game_.activations; }

    private:
        FakeGame& game_;
        std::vector<unsigned char> pixels_;
    };

    std::mutex mutex_;
    State state_;
    std::vector<unsigned char> handedBack_;
    std::shared_ptr<FakeCapture> capture_;
};

// Sound source factory for a machine without a capture device.
inline std::unique_ptr<CCaptureAudio> NoDeviceAudio() {
    return std::make_unique<CCaptureAudio>(
        [](const std::string&, const platform::AudioFormat&) -> std::unique_ptr<platform::IAudioInput> { return nullptr; });
}

// Records what the sender reported.
class RecordingOwner : public ILiveOwner {
public:
    void PostLiveStop(int reason) override {
        std::lock_guard lock(mutex_);
        reasons_.push_back(reason);
        changed_.notify_all();
    }
    void PostGameWindowLost() override {
        std::lock_guard lock(mutex_);
        reasons_.push_back(-1);
        changed_.notify_all();
    }
    std::vector<int> Reasons() {
        std::lock_guard lock(mutex_);
        return reasons_;
    }
    // Waits for the first report; -100 when none came in time. -1 stands for a lost window.
    int WaitFirst(int ms = 5000) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !reasons_.empty(); });
        return reasons_.empty() ? -100 : reasons_.front();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> reasons_;
};

// Acts as the main window: every report is posted to its own thread, which destroys the sender.
class DestroyingOwner : public ILiveOwner {
public:
    DestroyingOwner() : thread_([this] { Run(); }) {}
    ~DestroyingOwner() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            wake_.notify_all();
        }
        thread_.join();
    }
    void Adopt(std::unique_ptr<CSendDataStream> sender) {
        std::lock_guard lock(mutex_);
        sender_ = std::move(sender);
    }
    void PostLiveStop(int reason) override { Post(reason); }
    void PostGameWindowLost() override { Post(-1); }
    // Destroys the sender as the user's stop does.
    void UserStop() { Post(0); }
    bool WaitDestroyed(int ms = 8000) {
        std::unique_lock lock(mutex_);
        return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !sender_ && !reasons_.empty(); });
    }
    std::vector<int> Reasons() {
        std::lock_guard lock(mutex_);
        return reasons_;
    }

private:
    void Post(int reason) {
        std::lock_guard lock(mutex_);
        events_.push_back(reason);
        wake_.notify_all();
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || !events_.empty(); });
            if (quit_) break;
            const int reason = events_.front();
            events_.pop_front();
            // A report that comes after the sender is gone is ignored, as the window does.
            std::unique_ptr<CSendDataStream> doomed = std::move(sender_);
            if (!doomed) continue;
            lock.unlock();
            doomed.reset();
            lock.lock();
            reasons_.push_back(reason);
            wake_.notify_all();
        }
        std::unique_ptr<CSendDataStream> last = std::move(sender_);
        lock.unlock();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> events_;
    std::vector<int> reasons_;
    std::unique_ptr<CSendDataStream> sender_;
    bool quit_ = false;
    std::thread thread_;
};

// Destroys the sender inside the report itself, on the sender's own thread: the harshest owner.
class SynchronousOwner : public ILiveOwner {
public:
    CSendDataStream* sender = nullptr;
    std::atomic<int> reports{0};
    void PostLiveStop(int) override { End(); }
    void PostGameWindowLost() override { End(); }

private:
    void End() {
        delete sender;
        sender = nullptr;
        ++reports;
    }
};

}  // namespace testsupport
