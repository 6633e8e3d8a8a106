#include "PulseConnection.h"

#include <algorithm>
#include <cstring>

namespace pulse {

std::string Reason(pa_context* context, Wait wait, const char* timeout) {
    return wait == Wait::TimedOut ? timeout : pa_strerror(pa_context_errno(context));
}

std::shared_ptr<Connection> Connect(std::string* error) {
    auto connection = std::make_shared<Connection>();
    connection->loop.reset(pa_mainloop_new());
    if (!connection->loop) {
        if (error) *error = "could not make a main loop";
        return nullptr;
    }
    connection->context.reset(pa_context_new(pa_mainloop_get_api(connection->loop.get()), "strimo"));
    if (!connection->context) {
        if (error) *error = "could not make a context";
        return nullptr;
    }
    pa_context* c = connection->context.get();
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        if (error) *error = pa_strerror(pa_context_errno(c));
        return nullptr;
    }
    const Wait wait = IterateUntil(connection->loop.get(), [c] {
        const pa_context_state_t s = pa_context_get_state(c);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    if (wait != Wait::Done || pa_context_get_state(c) != PA_CONTEXT_READY) {
        if (error) *error = Reason(c, wait, "timed out connecting to the sound server");
        return nullptr;
    }
    return connection;
}

bool SampleSpec(const platform::AudioFormat& format, pa_sample_spec* spec) {
    *spec = {};
    spec->format = format.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec->rate = static_cast<uint32_t>(format.sampleRate);
    spec->channels = static_cast<uint8_t>(format.channels);
    return pa_sample_spec_valid(spec) != 0;
}

StreamPtr NewRecordStream(Connection& connection, const pa_sample_spec& spec, const char* name) {
    return StreamPtr(pa_stream_new(connection.context.get(), name, &spec, nullptr));
}

int ConnectRecord(pa_stream* stream, const char* source, const pa_sample_spec& spec) {
    // Fragments of about 20 ms keep the latency low without waking too often. The timing
    // updates let the capture tell a source that is late from one that is silent.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(20000, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                      PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_record(stream, source, &attr, flags);
}

long RecordStream::Read(unsigned char* out, std::size_t size) {
    if (pump_) connection_->Pump();
    if (!connection_->Ready() || pa_stream_get_state(stream_.get()) != PA_STREAM_READY) return Failed();
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
        // A hole (data null) is left out: the capture fills what is missing by the clock.
        dropped_ += static_cast<long long>(length);
        pa_stream_drop(stream_.get());
    }
    return static_cast<long>(copied);
}

long long RecordStream::OwedBytes() {
    pa_stream* s = stream_.get();
    if (pa_stream_get_state(s) != PA_STREAM_READY || pa_stream_is_suspended(s) == 1) return 0;
    // The stream's time is that of the last sample the source captured for it (what the server
    // queued, plus what still lies in the device); what lies beyond what was read is on its way.
    pa_usec_t usec = 0;
    if (pa_stream_get_time(s, &usec) < 0) return 0;
    const long long captured = static_cast<long long>(pa_usec_to_bytes(usec, pa_stream_get_sample_spec(s)));
    return std::max(0LL, captured - dropped_);
}

long RecordStream::Failed() {
    error_ = connection_->LastError();
    return -1;
}

}  // namespace pulse
