#include "PulsePlayingProcesses.h"

#include <algorithm>
#include <cstdlib>

#include "PulseConnection.h"

namespace pulse {

std::vector<long> ListPlayingProcesses() {
    auto connection = Connect(nullptr);
    if (!connection) return {};
    struct Gathered {
        std::vector<long> pids;
        bool done = false;
    } gathered;
    OperationPtr list(pa_context_get_sink_input_info_list(
        connection->context.get(),
        [](pa_context*, const pa_sink_input_info* info, int eol, void* user) {
            auto* g = static_cast<Gathered*>(user);
            if (eol != 0 || info == nullptr) {
                g->done = true;
                return;
            }
            const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
            if (pid != nullptr) g->pids.push_back(std::strtol(pid, nullptr, 10));
        },
        &gathered));
    if (!list || IterateUntil(connection->loop.get(), [&gathered] { return gathered.done; }) != Wait::Done) return {};
    std::sort(gathered.pids.begin(), gathered.pids.end());
    gathered.pids.erase(std::unique(gathered.pids.begin(), gathered.pids.end()), gathered.pids.end());
    return gathered.pids;
}

}  // namespace pulse
