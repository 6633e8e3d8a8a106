#include "AudioSourceList.h"

std::vector<AudioSourceEntry> AudioSourceEntries(const std::vector<platform::AudioSourceInfo>& sources) {
    std::vector<AudioSourceEntry> entries;
    entries.push_back({"不直播声音", std::nullopt});
    if (sources.empty()) return entries;
    entries.push_back({"麦克风和电脑声音", platform::AudioSourceChoice::MicrophoneAndComputer()});
    entries.push_back({"麦克风", platform::AudioSourceChoice()});
    entries.push_back({"只直播游戏声音", platform::AudioSourceChoice::GameOnly()});
    std::size_t devices = 0;
    for (const auto& source : sources) {
        // The default source has its entry above; every other device takes a place of the table.
        if (source.name.empty()) continue;
        if (++devices > kMaxListedCaptureDevices) break;
        entries.push_back({source.description, platform::AudioSourceChoice(source.name)});
    }
    return entries;
}
