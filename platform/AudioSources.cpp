#include "AudioSources.h"

#include <fstream>
#include <sstream>

#include "PulseAudioInput.h"
#include "PulseGameStreams.h"

namespace platform {

std::vector<AudioSourceInfo> ListAudioSources() { return pulse::ListSources(); }

namespace {

// The parent of `pid` from /proc/PID/stat; 0 when it has gone. The program's name, in
// parentheses, may hold spaces and parentheses itself: the fields follow the last ')'.
long ParentOf(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    long parent = 0;
    rest >> state >> parent;
    return parent;
}

}  // namespace

bool IsProcessOrChild(long pid, long ancestor) {
    if (pid <= 0 || ancestor <= 0) return false;
    for (int depth = 0; depth < 256 && pid > 1; ++depth) {
        if (pid == ancestor) return true;
        pid = ParentOf(pid);
    }
    return pid == ancestor;
}

std::unique_ptr<IAudioSources> OpenAudioSources(const AudioSourceChoice& choice, const AudioFormat& format,
                                                std::string* error) {
    std::vector<std::unique_ptr<IAudioInput>> inputs;
    switch (choice.kind) {
    case AudioSourceChoice::Kind::Source: {
        auto input = pulse::OpenSource(choice.name, format, error);
        if (!input) return nullptr;
        inputs.push_back(std::move(input));
        break;
    }
    case AudioSourceChoice::Kind::MicrophoneAndComputer: {
        pulse::DefaultDevices devices;
        if (!pulse::FindDefaultDevices(&devices, error)) return nullptr;
        auto microphone = pulse::OpenSource(devices.source, format, error);
        if (!microphone) return nullptr;
        inputs.push_back(std::move(microphone));
        // Without a microphone the default source may be the computer's sound itself: once is enough.
        if (devices.sinkMonitor != devices.source) {
            auto computer = pulse::OpenSource(devices.sinkMonitor, format, error);
            if (!computer) return nullptr;
            inputs.push_back(std::move(computer));
        }
        break;
    }
    case AudioSourceChoice::Kind::GameOnly: {
        const long game = choice.gameProcess;
        if (game <= 0) {
            if (error) *error = "no game process";
            return nullptr;
        }
        return pulse::OpenProcessStreams([game](long pid) { return IsProcessOrChild(pid, game); }, format, error);
    }
    }
    return std::make_unique<AudioInputList>(std::move(inputs));
}

}  // namespace platform
