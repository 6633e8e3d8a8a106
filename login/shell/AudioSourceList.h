#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "AudioInput.h"

// One entry of the main window's audio source list: what it shows, and the source it names
// (nullopt for "不直播声音", "" for the default source, else the source's name).
struct AudioSourceEntry {
    std::string label;
    std::optional<std::string> source;
};

// Capture devices listed besides the default one: the device table has 20 places, and further
// devices are not offered.
inline constexpr std::size_t kMaxListedCaptureDevices = 20;

// "不直播声音" first, then the sources in the order the sound server gives them (the default
// source first), at most kMaxListedCaptureDevices of them besides the default.
std::vector<AudioSourceEntry> AudioSourceEntries(const std::vector<platform::AudioSourceInfo>& sources);
