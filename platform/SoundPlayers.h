#pragma once

#include <vector>

namespace platform {

// Of `processes`, those that play sound now, themselves or through a process they started
// (IsProcessOrChild), by the sound server's account; none when no server answers.
std::vector<long> PlayingSound(const std::vector<long>& processes);

}  // namespace platform
