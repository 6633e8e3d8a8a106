#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AudioInput.h"

namespace pulse {

// Opens a record stream on the PulseAudio source `source` (empty: the server's default source)
// in the given PCM format. Null when there is no server, no such source or the stream fails;
// `error` then says why (the server's own words).
std::unique_ptr<platform::IAudioInput> OpenSource(const std::string& source, const platform::AudioFormat& format,
                                                  std::string* error = nullptr);

// The capture sources in the order the audio source list shows them: the default source first
// (empty name), then every source the server reports, monitors of outputs included. Empty when no
// server answers.
std::vector<platform::AudioSourceInfo> ListSources();

// The names of the server's default source and of the monitor of its default sink, looked up by
// name: PipeWire's server takes "@DEFAULT_MONITOR@" for the default source. False (and `error`)
// when no server answers or it has no default sink.
struct DefaultDevices {
    std::string source;
    std::string sinkMonitor;
};
bool FindDefaultDevices(DefaultDevices* devices, std::string* error = nullptr);

}  // namespace pulse
