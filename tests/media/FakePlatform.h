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
#include "ScreenCapture.h"

namespace testsupport {

class FakeWindowTracker : public platform::IWindowTracker {
public:
    struct State {
        bool exists = true;
        bool minimised = false;
        platform::ScreenRect rect{100, 100, 420, 340};
    };
    explicit FakeWindowTracker(std::shared_ptr<std::mutex> mutex, std::shared_ptr<State> state)
        : mutex_(std::move(mutex)), state_(std::move(state)) {}
    bool Exists(platform::WindowId) override {
        std::lock_guard lock(*mutex_);
        return state_->exists;
    }
    bool ClientRect(platform::WindowId, platform::ScreenRect* rect) override {
        std::lock_guard lock(*mutex_);
        if (!state_->exists) return false;
        *rect = state_->rect;
        return true;
    }
    bool IsMinimised(platform::WindowId) override {
        std::lock_guard lock(*mutex_);
        return state_->minimised;
    }
    void Activate(platform::WindowId) override { activations++; }
    std::atomic<int> activations{0};

private:
    std::shared_ptr<std::mutex> mutex_;
    std::shared_ptr<State> state_;
};

// The window the tests change, shared with the tracker the sender owns.
class FakeWindow {
public:
    FakeWindow() : mutex_(std::make_shared<std::mutex>()), state_(std::make_shared<FakeWindowTracker::State>()) {}
    std::unique_ptr<FakeWindowTracker> Tracker() { return std::make_unique<FakeWindowTracker>(mutex_, state_); }
    void Set(const std::function<void(FakeWindowTracker::State&)>& change) {
        std::lock_guard lock(*mutex_);
        change(*state_);
    }

private:
    std::shared_ptr<std::mutex> mutex_;
    std::shared_ptr<FakeWindowTracker::State> state_;
};

struct GrabLog {
    std::atomic<int> grabs{0};
    std::atomic<int> lastLeft{0};
    std::atomic<int> lastTop{0};
};

class FakeGrabber : public platform::IScreenGrabber {
public:
    explicit FakeGrabber(std::shared_ptr<GrabLog> log) : log_(std::move(log)) {}
    int Depth() override { return 24; }
    bool Grab(platform::WindowId, const platform::ScreenRect& rect, int width, int rows,
              platform::Picture* picture) override {
        const int n = ++log_->grabs;
        log_->lastLeft = rect.left;
        log_->lastTop = rect.top;
        pixels_.resize(static_cast<size_t>(width) * rows * 4);
        for (int y = 0; y < rows; ++y)
            std::memset(pixels_.data() + static_cast<long>(y) * width * 4, (n * 7 + y) & 0xff, width * 4);
        *picture = {pixels_.data(), width, rows, width * 4};
        return true;
    }

private:
    std::shared_ptr<GrabLog> log_;
    std::vector<unsigned char> pixels_;
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
