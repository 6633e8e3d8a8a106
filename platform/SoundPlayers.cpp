#include "SoundPlayers.h"

#include <algorithm>

#include "AudioSources.h"
#include "PulsePlayingProcesses.h"

namespace platform {

std::vector<long> PlayingSound(const std::vector<long>& processes) {
    const std::vector<long> playing = pulse::ListPlayingProcesses();
    std::vector<long> found;
    for (long process : processes)
        if (std::any_of(playing.begin(), playing.end(), [process](long p) { return IsProcessOrChild(p, process); }))
            found.push_back(process);
    return found;
}

}  // namespace platform
