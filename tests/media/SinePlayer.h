#pragma once

// Sound for the capture tests: tones played into the sound server's sinks (with-pulse.sh or
// with-pipewire.sh), and a microphone made of a null sink and a source remapped from its monitor.

#include <string>
#include <vector>

#include "Capture.h"
#include "ChildProcess.h"
#include "MediaProbe.h"
#include "TempDir.h"

namespace testsupport {

// Plays a sine of `hz` for `seconds` into the sink `device` until it ends or the object goes.
// With `childOfShell` the player is the child of a shell, which is then the process to name (a
// game that plays from a process it started), and may wait with playing until the file
// `startWhen` exists. With `again` too, the shell plays once more whenever its player ends, as a
// game does that opens its sound again after the sound server went away.
class SinePlayer {
public:
    explicit SinePlayer(int seconds, double hz = 440.0, const std::string& device = "s1", bool childOfShell = false,
                        double amplitude = 12000, const std::string& startWhen = "", bool again = false)
        : pacat_(Start(dir_, seconds, hz, device, childOfShell, amplitude, startWhen, again)) {}
    bool Started() const { return pacat_.Started(); }
    pid_t Pid() const { return pacat_.Pid(); }
    void Stop() { pacat_.Stop(); }

private:
    static ChildProcess Start(const TempDir& dir, int seconds, double hz, const std::string& device,
                              bool childOfShell, double amplitude, const std::string& startWhen, bool again) {
        std::vector<unsigned char> pcm;
        for (int i = 0; i < seconds; ++i) {
            const auto block = SineBlock(22050, 22050L * i, hz, 22050, amplitude);
            pcm.insert(pcm.end(), block.begin(), block.end());
        }
        WriteFile(dir / "sine.raw", std::string(pcm.begin(), pcm.end()));
        std::vector<std::string> pacat = {"pacat", "--playback", "--latency-msec=200", "--device=" + device,
                                          "--format=s16le", "--rate=22050", "--channels=1", dir / "sine.raw"};
        if (!childOfShell) return ChildProcess(pacat);
        std::string line;
        for (const auto& word : pacat) line += "'" + word + "' ";
        const std::string wait =
            startWhen.empty() ? "" : "while [ ! -e '" + startWhen + "' ]; do sleep 0.05; done; ";
        const std::string play = line + (again ? "2>/dev/null " : "") + "& child=$!; wait $child";
        // A player that finds no server ends at once: the pause keeps the retries from spinning.
        const std::string plays = again ? "while :; do " + play + "; sleep 0.1; done" : play;
        return ChildProcess({"sh", "-c", "child=; trap 'kill $child 2>/dev/null; exit 0' TERM; " + wait + plays});
    }

    TempDir dir_;
    ChildProcess pacat_;
};

// A microphone as a sound card would give it, delivering every 20 ms: the null sink "micsink"
// and the source "mic" remapped from its monitor, made the default source while the object
// lives (the null sink "s1" stays the default output). Play into "micsink" to speak.
class TestMicrophone {
public:
    TestMicrophone() {
        sink_ = Load("module-null-sink sink_name=micsink");
        source_ = Load("module-remap-source source_name=mic master=micsink.monitor");
        Capture("pactl set-default-source mic; pactl set-default-sink s1");
    }
    ~TestMicrophone() {
        for (const auto& id : {source_, sink_})
            if (!id.empty()) Capture("pactl unload-module " + id);
    }
    TestMicrophone(const TestMicrophone&) = delete;
    TestMicrophone& operator=(const TestMicrophone&) = delete;
    bool Ready() const {
        return !sink_.empty() && !source_.empty() && Capture("pactl get-default-source") == "mic\n";
    }
    // Takes the microphone away, as a USB one is unplugged, and brings it back under its name.
    bool Unplug() {
        const bool gone = !source_.empty() && CaptureRun("pactl unload-module " + source_).status == 0;
        source_.clear();
        return gone;
    }
    bool PlugIn() {
        source_ = Load("module-remap-source source_name=mic master=micsink.monitor");
        Capture("pactl set-default-source mic");
        return Ready();
    }

    // Loads a module with pactl: its number, or empty when the server refused it.
    static std::string Load(const std::string& module) {
        std::string id = Capture("pactl load-module " + module + " 2>/dev/null");
        while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
        return id;
    }

private:
    std::string sink_;
    std::string source_;
};

}  // namespace testsupport
