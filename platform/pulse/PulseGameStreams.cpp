#include "PulseGameStreams.h"

#include <cstdlib>
#include <map>

#include "PulseConnection.h"

namespace pulse {
namespace {

class ProcessStreams final : public platform::IAudioSources {
public:
    ProcessStreams(std::shared_ptr<Connection> connection, std::function<bool(long)> belongs,
                   const pa_sample_spec& spec)
        : connection_(std::move(connection)), belongs_(std::move(belongs)), spec_(spec) {}

    ~ProcessStreams() override {
        pa_context_set_subscribe_callback(connection_->context.get(), nullptr, nullptr);
        entries_.clear();
    }

    bool Start() {
        pa_context* c = connection_->context.get();
        pa_context_set_subscribe_callback(c, &ProcessStreams::OnEvent, this);
        OperationPtr subscribe(pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
        OperationPtr list(pa_context_get_sink_input_info_list(c, &ProcessStreams::OnInput, this));
        return subscribe && list;
    }

    // A game's stream that fails leaves the set; the game's other streams go on.
    bool StreamFailed(unsigned) override { return false; }
    // A connection that failed gets no more events: no stream the game opens would be seen.
    bool Lost() override { return !connection_->Ready(); }

    std::vector<Stream> Streams() override {
        connection_->Pump();
        std::vector<Stream> streams;
        for (auto it = entries_.begin(); it != entries_.end();) {
            const pa_stream_state_t state =
                it->second.stream ? pa_stream_get_state(it->second.stream->Stream()) : PA_STREAM_CREATING;
            if (!PA_STREAM_IS_GOOD(state)) {
                it = entries_.erase(it);
                continue;
            }
            if (state == PA_STREAM_READY) streams.push_back({it->first, it->second.stream.get()});
            ++it;
        }
        return streams;
    }

private:
    struct Entry {
        uint32_t sink = PA_INVALID_INDEX;
        std::unique_ptr<RecordStream> stream;  // null while the sink's monitor is looked up
    };

    static void OnEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index, void* user) {
        auto* self = static_cast<ProcessStreams*>(user);
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
        if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
            self->entries_.erase(index);
            return;
        }
        // New, or changed (moved to another sink, or its properties given late).
        OperationPtr op(pa_context_get_sink_input_info(c, index, &ProcessStreams::OnInput, self));
    }

    static void OnInput(pa_context* c, const pa_sink_input_info* info, int eol, void* user) {
        if (eol != 0 || info == nullptr) return;
        auto* self = static_cast<ProcessStreams*>(user);
        const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        if (pid == nullptr || !self->belongs_(std::strtol(pid, nullptr, 10))) return;
        const auto found = self->entries_.find(info->index);
        if (found != self->entries_.end() && found->second.sink == info->sink) return;  // recorded already
        Entry& entry = self->entries_[info->index];
        entry.stream.reset();
        entry.sink = info->sink;
        OperationPtr op(pa_context_get_sink_info_by_index(c, info->sink, &ProcessStreams::OnSink, self));
    }

    static void OnSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
        if (eol != 0 || info == nullptr || info->monitor_source_name == nullptr) return;
        auto* self = static_cast<ProcessStreams*>(user);
        for (auto& [input, entry] : self->entries_)
            if (!entry.stream && entry.sink == info->index) self->Record(input, entry, info->monitor_source_name);
    }

    void Record(uint32_t input, Entry& entry, const char* monitor) {
        StreamPtr stream = NewRecordStream(*connection_, spec_, "strimo game sound");
        if (!stream || pa_stream_set_monitor_stream(stream.get(), input) < 0 ||
            ConnectRecord(stream.get(), monitor, spec_) < 0)
            return;
        entry.stream = std::make_unique<RecordStream>(connection_, std::move(stream), false);
    }

    std::shared_ptr<Connection> connection_;
    std::function<bool(long)> belongs_;
    pa_sample_spec spec_;
    std::map<uint32_t, Entry> entries_;  // by sink input
};

}  // namespace

std::unique_ptr<platform::IAudioSources> OpenProcessStreams(std::function<bool(long pid)> belongs,
                                                            const platform::AudioFormat& format,
                                                            std::string* error) {
    pa_sample_spec spec{};
    if (!SampleSpec(format, &spec)) {
        if (error) *error = "invalid sample format";
        return nullptr;
    }
    auto connection = Connect(error);
    if (!connection) return nullptr;
    auto streams = std::make_unique<ProcessStreams>(connection, std::move(belongs), spec);
    if (!streams->Start()) {
        if (error) *error = connection->LastError();
        return nullptr;
    }
    return streams;
}

}  // namespace pulse
