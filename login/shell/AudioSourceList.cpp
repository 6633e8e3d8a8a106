#include "AudioSourceList.h"

std::vector<AudioSourceEntry> AudioSourceEntries(const std::vector<platform::AudioSourceInfo>& sources) {
    std::vector<AudioSourceEntry> entries;
    entries.push_back({"不直播声音", std::nullopt});
    std::size_t devices = 0;
    for (const auto& source : sources) {
        // The default source has no place in the table; every other device takes one.
        if (!source.name.empty() && ++devices > kMaxListedCaptureDevices) break;
        entries.push_back({source.description, source.name});
    }
    return entries;
}
