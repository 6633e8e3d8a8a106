#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AudioInput.h"

// What the PulseAudio layer's parts share: one connection to the server on a main loop of its
// own, and record streams on it.
namespace pulse {

struct MainloopFree {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextFree {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
struct StreamFree {
    void operator()(pa_stream* s) const {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        if (pa_stream_get_state(s) == PA_STREAM_READY || pa_stream_get_state(s) == PA_STREAM_CREATING)
            pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};
struct OperationFree {
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
};
using MainloopPtr = std::unique_ptr<pa_mainloop, MainloopFree>;
using ContextPtr = std::unique_ptr<pa_context, ContextFree>;
using StreamPtr = std::unique_ptr<pa_stream, StreamFree>;
using OperationPtr = std::unique_ptr<pa_operation, OperationFree>;

// A connected context on its own main loop. The context goes before its loop.
struct Connection {
    MainloopPtr loop;
    ContextPtr context;
    ~Connection() { context.reset(); }
    // Dispatches what has arrived, without waiting.
    void Pump() {
        for (int i = 0; i < 64 && pa_mainloop_iterate(loop.get(), 0, nullptr) > 0; ++i) {
        }
    }
    bool Ready() const { return pa_context_get_state(context.get()) == PA_CONTEXT_READY; }
    std::string LastError() const { return pa_strerror(pa_context_errno(context.get())); }
};

enum class Wait { Done, TimedOut, LoopFailed };

// Runs the loop without blocking until `done` holds or three seconds have passed.
template <typename Done>
Wait IterateUntil(pa_mainloop* loop, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done()) {
        if (pa_mainloop_iterate(loop, 0, nullptr) < 0) return Wait::LoopFailed;
        if (done()) break;
        if (std::chrono::steady_clock::now() > deadline) return Wait::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Wait::Done;
}

// The reason a request on `context` failed, in the server's words; `timeout` when the wait ran out.
std::string Reason(pa_context* context, Wait wait, const char* timeout);

// Connects to the server PULSE_SERVER (or the usual one) names. Null, and `error`, when none answers.
std::shared_ptr<Connection> Connect(std::string* error);

// The sample spec of `format`; false when the server could not take it.
bool SampleSpec(const platform::AudioFormat& format, pa_sample_spec* spec);

// A record stream, not yet connected, that records `format` in fragments of about 20 ms.
StreamPtr NewRecordStream(Connection& connection, const pa_sample_spec& spec, const char* name);
// Connects `stream` to `source` (null: the default source) for recording, with the timing
// updates OwedBytes needs.
int ConnectRecord(pa_stream* stream, const char* source, const pa_sample_spec& spec);

// One record stream read by the capture thread. With `pump`, each Read dispatches the
// connection's events first; a stream of a shared connection leaves that to its owner.
class RecordStream final : public platform::IAudioInput {
public:
    RecordStream(std::shared_ptr<Connection> connection, StreamPtr stream, bool pump)
        : connection_(std::move(connection)), stream_(std::move(stream)), pump_(pump) {}
    ~RecordStream() override { stream_.reset(); }

    long Read(unsigned char* out, std::size_t size) override;
    std::string Error() const override { return error_; }
    long long OwedBytes() override;
    pa_stream* Stream() const { return stream_.get(); }

private:
    long Failed();

    std::shared_ptr<Connection> connection_;
    StreamPtr stream_;
    bool pump_;
    std::vector<unsigned char> pending_;
    std::size_t pendingOffset_ = 0;
    long long dropped_ = 0;  // bytes taken from the server's queue, holes included
    std::string error_;
};

}  // namespace pulse
