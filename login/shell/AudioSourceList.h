#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "AudioInput.h"

// One entry of the main window's audio source list: what it shows, and what it records
// (nullopt for "不直播声音").
struct AudioSourceEntry {
    std::string label;
    std::optional<platform::AudioSourceChoice> source;
};

// Capture devices listed besides the default one: the device table has 20 places, and further
// devices are not offered.
inline constexpr std::size_t kMaxListedCaptureDevices = 20;

// The entries the stored index and the sound page's choices name, whatever the devices are.
enum AudioSourceIndex {
    kNoSoundEntry = 0,
    kMicrophoneAndComputerEntry = 1,
    kMicrophoneEntry = 2,
    kGameSoundEntry = 3,
};

// "不直播声音"; the microphone (the default source) with the computer's sound (the monitor of
// the default output); the microphone alone; the game's own sound; then the sources the server
// lists besides its default, in its order, at most kMaxListedCaptureDevices of them. Only
// "不直播声音" when no sound server answered (`sources` empty).
std::vector<AudioSourceEntry> AudioSourceEntries(const std::vector<platform::AudioSourceInfo>& sources);
