#include "PulseAudioInput.h"

#include "PulseConnection.h"

namespace pulse {

namespace {

// Whether the server has a source of that name. PipeWire's server connects a record stream to
// a source that does not exist (it records nothing, or the default source): ask first.
bool SourceExists(Connection& connection, const std::string& name) {
    struct Found {
        bool exists = false;
        bool done = false;
    } found;
    OperationPtr op(pa_context_get_source_info_by_name(
        connection.context.get(), name.c_str(),
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
            auto* f = static_cast<Found*>(user);
            if (eol == 0 && info != nullptr) f->exists = true;
            if (eol != 0) f->done = true;
        },
        &found));
    return op && IterateUntil(connection.loop.get(), [&found] { return found.done; }) == Wait::Done && found.exists;
}

}  // namespace

std::unique_ptr<platform::IAudioInput> OpenSource(const std::string& source, const platform::AudioFormat& format,
                                                  std::string* error) {
    auto connection = Connect(error);
    if (!connection) return nullptr;
    if (!source.empty() && !SourceExists(*connection, source)) {
        if (error) *error = pa_strerror(PA_ERR_NOENTITY);
        return nullptr;
    }
    pa_sample_spec spec{};
    if (!SampleSpec(format, &spec)) {
        if (error) *error = "invalid sample format";
        return nullptr;
    }
    StreamPtr stream = NewRecordStream(*connection, spec, "strimo capture");
    pa_context* context = connection->context.get();
    if (!stream || ConnectRecord(stream.get(), source.empty() ? nullptr : source.c_str(), spec) < 0) {
        if (error) *error = pa_strerror(pa_context_errno(context));
        return nullptr;
    }
    pa_stream* s = stream.get();
    const Wait wait = IterateUntil(connection->loop.get(), [s] {
        const pa_stream_state_t st = pa_stream_get_state(s);
        return st == PA_STREAM_READY || !PA_STREAM_IS_GOOD(st);
    });
    if (wait != Wait::Done || pa_stream_get_state(s) != PA_STREAM_READY) {
        if (error) *error = Reason(context, wait, "timed out opening the source");
        return nullptr;
    }
    return std::make_unique<RecordStream>(std::move(connection), std::move(stream), true);
}

namespace {

struct ServerNames {
    std::string defaultSource;
    std::string defaultSink;
    bool done = false;
};

// Asks for the default source's and sink's names; false when the server does not answer.
bool AskServerNames(Connection& connection, ServerNames* names) {
    OperationPtr op(pa_context_get_server_info(
        connection.context.get(),
        [](pa_context*, const pa_server_info* info, void* user) {
            auto* n = static_cast<ServerNames*>(user);
            if (info != nullptr && info->default_source_name != nullptr) n->defaultSource = info->default_source_name;
            if (info != nullptr && info->default_sink_name != nullptr) n->defaultSink = info->default_sink_name;
            n->done = true;
        },
        names));
    return op && IterateUntil(connection.loop.get(), [names] { return names->done; }) == Wait::Done;
}

}  // namespace

bool FindDefaultDevices(DefaultDevices* devices, std::string* error) {
    auto connection = Connect(error);
    if (!connection) return false;
    ServerNames names;
    if (!AskServerNames(*connection, &names)) {
        if (error) *error = connection->LastError();
        return false;
    }
    struct Monitor {
        std::string name;
        bool done = false;
    } monitor;
    OperationPtr op(pa_context_get_sink_info_by_name(
        connection->context.get(), names.defaultSink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* m = static_cast<Monitor*>(user);
            if (eol == 0 && info != nullptr && info->monitor_source_name != nullptr) m->name = info->monitor_source_name;
            if (eol != 0) m->done = true;
        },
        &monitor));
    if (!op || IterateUntil(connection->loop.get(), [&monitor] { return monitor.done; }) != Wait::Done ||
        monitor.name.empty()) {
        if (error) *error = "the sound server has no default output";
        return false;
    }
    devices->source = names.defaultSource;
    devices->sinkMonitor = monitor.name;
    return true;
}

std::vector<platform::AudioSourceInfo> ListSources() {
    auto connection = Connect(nullptr);
    if (!connection) return {};

    struct Gathered {
        std::vector<platform::AudioSourceInfo> sources;
        bool done = false;
    } gathered;
    ServerNames names;
    if (!AskServerNames(*connection, &names)) return {};
    OperationPtr listOp(pa_context_get_source_info_list(
        connection->context.get(),
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
            auto* g = static_cast<Gathered*>(user);
            if (eol != 0 || info == nullptr) {
                g->done = true;
                return;
            }
            g->sources.push_back({info->name, info->description != nullptr ? info->description : info->name});
        },
        &gathered));
    if (!listOp || IterateUntil(connection->loop.get(), [&gathered] { return gathered.done; }) != Wait::Done) return {};

    std::vector<platform::AudioSourceInfo> result;
    std::string defaultDescription = "默认设备";
    for (const auto& s : gathered.sources)
        if (s.name == names.defaultSource) defaultDescription += " - " + s.description;
    result.push_back({std::string(), defaultDescription});
    result.insert(result.end(), gathered.sources.begin(), gathered.sources.end());
    return result;
}

}  // namespace pulse
