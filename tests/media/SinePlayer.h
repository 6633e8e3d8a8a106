#pragma once

// Plays a 440 Hz sine of `seconds` into the sound server's null sink "s1" (with-pulse.sh) until
// it ends or the object goes.

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "MediaProbe.h"
#include "TempDir.h"

namespace testsupport {

class SinePlayer {
public:
    explicit SinePlayer(int seconds) : pacat_(Start(dir_, seconds)) {}
    bool Started() const { return pacat_.Started(); }
    void Stop() { pacat_.Stop(); }

private:
    static ChildProcess Start(const TempDir& dir, int seconds) {
        std::vector<unsigned char> pcm;
        for (int i = 0; i < seconds; ++i) {
            const auto block = SineBlock(22050, 22050L * i);
            pcm.insert(pcm.end(), block.begin(), block.end());
        }
        WriteFile(dir / "sine.raw", std::string(pcm.begin(), pcm.end()));
        return ChildProcess({"pacat", "--playback", "--latency-msec=50", "--device=s1", "--format=s16le",
                             "--rate=22050", "--channels=1", dir / "sine.raw"});
    }

    TempDir dir_;
    ChildProcess pacat_;
};

}  // namespace testsupport
