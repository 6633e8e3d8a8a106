#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioInput.h"

// The sound server behind the capture: the only door through which the program reaches it.
namespace platform {

// The capture sources the server offers, the default source first (empty name, described as
// "默认设备" and the device's own words), then every source, monitors of outputs included.
// Empty when no server answers.
std::vector<AudioSourceInfo> ListAudioSources();

// Opens the streams `choice` records, in `format`. Null when the server, a named source or the
// default devices cannot be opened; `error` then says why, in the server's words. A game that
// plays nothing is no failure: its set is empty until it plays.
std::unique_ptr<IAudioSources> OpenAudioSources(const AudioSourceChoice& choice, const AudioFormat& format,
                                                std::string* error = nullptr);

// Whether process `pid` is `ancestor` or one of its descendants, as /proc says now.
bool IsProcessOrChild(long pid, long ancestor);

}  // namespace platform
