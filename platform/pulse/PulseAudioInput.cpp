#include "PulseAudioInput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace pulse {
namespace {

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

constexpr auto kConnectTimeout = std::chrono::seconds(3);

enum class Wait { Done, TimedOut, LoopFailed };

// Runs the loop without blocking until `done` holds or the time is up.
template <typename Done>
Wait IterateUntil(pa_mainloop* loop, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
    while (!done()) {
        if (pa_mainloop_iterate(loop, 0, nullptr) < 0) return Wait::LoopFailed;
        if (done()) break;
        if (std::chrono::steady_clock::now() > deadline) return Wait::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Wait::Done;
}

// The reason a request on `context` failed, in the server's words; `timeout` when the wait ran out.
std::string Reason(pa_context* context, Wait wait, const char* timeout) {
    return wait == Wait::TimedOut ? timeout : pa_strerror(pa_context_errno(context));
}

// A connected context on its own main loop; null (and `error`) when no server answers.
bool Connect(MainloopPtr* loop, ContextPtr* context, std::string* error) {
    loop->reset(pa_mainloop_new());
    if (!*loop) {
        if (error) *error = "could not make a main loop";
        return false;
    }
    context->reset(pa_context_new(pa_mainloop_get_api(loop->get()), "strimo"));
    if (!*context) {
        if (error) *error = "could not make a context";
        return false;
    }
    if (pa_context_connect(context->get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        if (error) *error = pa_strerror(pa_context_errno(context->get()));
        return false;
    }
    pa_context* c = context->get();
    const Wait wait = IterateUntil(loop->get(), [c] {
        const pa_context_state_t s = pa_context_get_state(c);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    if (wait != Wait::Done || pa_context_get_state(c) != PA_CONTEXT_READY) {
        if (error) *error = Reason(c, wait, "timed out connecting to the sound server");
        return false;
    }
    return true;
}

class PulseAudioInput final : public platform::IAudioInput {
public:
    PulseAudioInput(MainloopPtr loop, ContextPtr context, StreamPtr stream)
        : loop_(std::move(loop)), context_(std::move(context)), stream_(std::move(stream)) {}

    ~PulseAudioInput() override {
        // The stream and the context must go before their loop.
        stream_.reset();
        context_.reset();
    }

    long Read(unsigned char* out, std::size_t size) override {
        for (int i = 0; i < 64 && pa_mainloop_iterate(loop_.get(), 0, nullptr) > 0; ++i) {
        }
        if (pa_context_get_state(context_.get()) != PA_CONTEXT_READY ||
            pa_stream_get_state(stream_.get()) != PA_STREAM_READY)
            return Failed();
        std::size_t copied = 0;
        while (copied < size) {
            if (pendingOffset_ < pending_.size()) {
                const std::size_t n = std::min(size - copied, pending_.size() - pendingOffset_);
                std::memcpy(out + copied, pending_.data() + pendingOffset_, n);
                pendingOffset_ += n;
                copied += n;
                continue;
            }
            const void* data = nullptr;
            std::size_t length = 0;
            if (pa_stream_peek(stream_.get(), &data, &length) < 0) return Failed();
            if (length == 0) break;  // nothing more captured yet
            if (data != nullptr) {
                pending_.assign(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + length);
                pendingOffset_ = 0;
            }
            // A hole (data null) is left out: the capture layer fills gaps by the clock.
            pa_stream_drop(stream_.get());
        }
        return static_cast<long>(copied);
    }

    std::string Error() const override { return error_; }

private:
    long Failed() {
        error_ = pa_strerror(pa_context_errno(context_.get()));
        return -1;
    }

    MainloopPtr loop_;
    ContextPtr context_;
    StreamPtr stream_;
    std::vector<unsigned char> pending_;
    std::size_t pendingOffset_ = 0;
    std::string error_;
};

}  // namespace

std::unique_ptr<platform::IAudioInput> OpenSource(const std::string& source, const platform::AudioFormat& format,
                                                  std::string* error) {
    MainloopPtr loop;
    ContextPtr context;
    if (!Connect(&loop, &context, error)) return nullptr;

    pa_sample_spec spec{};
    spec.format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = static_cast<uint32_t>(format.sampleRate);
    spec.channels = static_cast<uint8_t>(format.channels);
    if (!pa_sample_spec_valid(&spec)) {
        if (error) *error = "invalid sample format";
        return nullptr;
    }
    StreamPtr stream(pa_stream_new(context.get(), "strimo capture", &spec, nullptr));
    if (!stream) {
        if (error) *error = pa_strerror(pa_context_errno(context.get()));
        return nullptr;
    }
    // Fragments of about 20 ms keep the latency low without waking too often.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(20000, &spec));
    const int rc = pa_stream_connect_record(stream.get(), source.empty() ? nullptr : source.c_str(), &attr,
                                            PA_STREAM_ADJUST_LATENCY);
    if (rc < 0) {
        if (error) *error = pa_strerror(pa_context_errno(context.get()));
        return nullptr;
    }
    pa_stream* s = stream.get();
    const Wait wait = IterateUntil(loop.get(), [s] {
        const pa_stream_state_t st = pa_stream_get_state(s);
        return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
    });
    if (wait != Wait::Done || pa_stream_get_state(s) != PA_STREAM_READY) {
        if (error) *error = Reason(context.get(), wait, "timed out opening the source");
        return nullptr;
    }
    return std::make_unique<PulseAudioInput>(std::move(loop), std::move(context), std::move(stream));
}

std::vector<platform::AudioSourceInfo> ListSources() {
    MainloopPtr loop;
    ContextPtr context;
    if (!Connect(&loop, &context, nullptr)) return {};

    struct Gathered {
        std::string defaultName;
        std::vector<platform::AudioSourceInfo> sources;
        bool serverDone = false;
        bool sourcesDone = false;
    } gathered;

    OperationPtr serverOp(pa_context_get_server_info(
        context.get(),
        [](pa_context*, const pa_server_info* info, void* user) {
            auto* g = static_cast<Gathered*>(user);
            if (info != nullptr && info->default_source_name != nullptr) g->defaultName = info->default_source_name;
            g->serverDone = true;
        },
        &gathered));
    OperationPtr listOp(pa_context_get_source_info_list(
        context.get(),
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
            auto* g = static_cast<Gathered*>(user);
            if (eol != 0 || info == nullptr) {
                g->sourcesDone = true;
                return;
            }
            g->sources.push_back({info->name, info->description != nullptr ? info->description : info->name});
        },
        &gathered));
    if (!serverOp || !listOp) return {};
    if (IterateUntil(loop.get(), [&gathered] { return gathered.serverDone && gathered.sourcesDone; }) != Wait::Done)
        return {};

    std::vector<platform::AudioSourceInfo> result;
    std::string defaultDescription = "默认设备";
    for (const auto& s : gathered.sources)
        if (s.name == gathered.defaultName) defaultDescription += " - " + s.description;
    result.push_back({std::string(), defaultDescription});
    result.insert(result.end(), gathered.sources.begin(), gathered.sources.end());
    return result;
}

}  // namespace pulse
