#pragma once

#include <functional>
#include <memory>
#include <string>

#include "AudioInput.h"

namespace pulse {

// The streams that the processes `belongs` accepts are playing, each recorded from the monitor
// of its sink as that one stream alone (pa_stream_set_monitor_stream), followed as they begin,
// move to another sink and end. Null (and `error`) when no server answers.
std::unique_ptr<platform::IAudioSources> OpenProcessStreams(std::function<bool(long pid)> belongs,
                                                            const platform::AudioFormat& format,
                                                            std::string* error = nullptr);

}  // namespace pulse
