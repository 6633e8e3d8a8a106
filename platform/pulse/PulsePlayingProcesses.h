#pragma once

#include <vector>

namespace pulse {

// The processes that play sound on the server now: the process id each playback stream names
// (application.process.id), once each. Empty when no server answers.
std::vector<long> ListPlayingProcesses();

}  // namespace pulse
