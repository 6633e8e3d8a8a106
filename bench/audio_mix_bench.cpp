// The CPU time of the sound capture: one source against several mixed, at 22050 Hz mono.
// - "timetable": sources of our own that deliver 441 samples every 20 ms, as a sound card does,
//   so that only the capture's own work (timing, holding, mixing, blocks) is counted;
// - "server" (when a sound server answers): the list's real choices, the microphone alone
//   against the microphone mixed with the computer's sound, the sound server's client included.
// Each figure is the process's CPU time over the run, as a share of one core.
//   tests/fixtures/with-pulse.sh build/bench/audio_mix_bench [--seconds 20]
// (or tests/fixtures/with-pipewire.sh)

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CCaptureAudio.h"
#include "SinePlayer.h"

namespace {

using Clock = std::chrono::steady_clock;

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Delivers a tone in 20 ms steps, by the clock.
class ToneInput : public platform::IAudioInput {
public:
    explicit ToneInput(double hz) : hz_(hz) {}
    long Read(unsigned char* out, std::size_t size) override {
        const double t = std::chrono::duration<double>(Clock::now() - start_).count();
        const long due = static_cast<long>(std::floor(t / 0.02)) * 441;
        const long n = std::min(static_cast<long>(size / 2), due - sent_);
        for (long i = 0; i < n; ++i) {
            const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * hz_ * static_cast<double>(sent_ + i) / 22050));
            std::memcpy(out + i * 2, &v, 2);
        }
        sent_ += std::max(0L, n);
        return std::max(0L, n) * 2;
    }

private:
    double hz_;
    Clock::time_point start_ = Clock::now();
    long sent_ = 0;
};

class NullHandler : public CAdoFrameHandler {
public:
    void OnAudioFrame(unsigned char*, int bytes) override { delivered += bytes; }
    long long delivered = 0;
};

struct Run {
    double cpuShare = 0;  // of one core
    double seconds = 0;   // of sound delivered
    CCaptureAudio::Figures figures;
    bool opened = false;
};

Run Measure(CCaptureAudio& capture, const platform::AudioSourceChoice& choice, int seconds) {
    Run run;
    NullHandler handler;
    capture.SetFormat(22050, 16, 1);
    if (!capture.Open(choice)) return run;
    capture.SetBlockBytes(2048);
    if (!capture.Start(&handler)) return run;
    run.opened = true;
    const double cpu = SelfCpu();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuShare = (SelfCpu() - cpu) / elapsed;
    run.figures = capture.MixFigures();
    capture.Stop();
    run.seconds = static_cast<double>(handler.delivered) / 44100;
    return run;
}

void Print(const char* what, int sources, const Run& run) {
    if (!run.opened) {
        std::printf("%-10s %7d   could not be opened\n", what, sources);
        return;
    }
    std::printf("%-10s %7d %8.3f %% %9.1f %8.0f %8.0f %8.0f %8.0f\n", what, sources, run.cpuShare * 100, run.seconds,
                run.figures.lagBytes / 44.1, run.figures.maxHeldBytes / 44.1, run.figures.filledBytes / 44.1,
                run.figures.trimmedBytes / 44.1);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: audio_mix_bench [--seconds N]\n");
            return 2;
        }
    }
    if (seconds < 1) seconds = 1;
    std::printf("sound capture at 22050 Hz mono, %d s per run; CPU as a share of one core;\n"
                "lag, most held, filled and trimmed in ms of sound\n", seconds);
    std::printf("%-10s %7s %10s %9s %8s %8s %8s %8s\n", "run", "sources", "cpu", "sound s", "lag", "held", "filled",
                "trimmed");
    double single = 0, mixed = 0;
    for (int sources : {1, 2, 4}) {
        CCaptureAudio capture(CCaptureAudio::SourcesFactory(
            [sources](const platform::AudioSourceChoice&, const platform::AudioFormat&) -> std::unique_ptr<platform::IAudioSources> {
                std::vector<std::unique_ptr<platform::IAudioInput>> inputs;
                for (int i = 0; i < sources; ++i) inputs.push_back(std::make_unique<ToneInput>(440.0 * (i + 1)));
                return std::make_unique<platform::AudioInputList>(std::move(inputs));
            }));
        const Run run = Measure(capture, platform::AudioSourceChoice(), seconds);
        Print("timetable", sources, run);
        if (sources == 1) single = run.cpuShare;
        if (sources == 2) mixed = run.cpuShare;
    }
    std::printf("timetable: mixing a second source costs %.3f %% of a core (goal: the mix under 1 %%): %s\n",
                (mixed - single) * 100, mixed < 0.01 ? "met" : "NOT met");

    if (std::getenv("PULSE_SERVER") != nullptr) {
        // A microphone that hears a voice, and the computer playing something else.
        testsupport::TestMicrophone device;
        testsupport::SinePlayer voice(seconds * 2 + 5, 440, "micsink", false, 8000);
        testsupport::SinePlayer music(seconds * 2 + 5, 880, "s1", false, 8000);
        CCaptureAudio microphone;
        const Run one = Measure(microphone, platform::AudioSourceChoice(), seconds);
        Print("server", 1, one);
        CCaptureAudio both;
        const Run two = Measure(both, platform::AudioSourceChoice::MicrophoneAndComputer(), seconds);
        Print("server", 2, two);
        if (one.opened && two.opened)
            std::printf("server: the microphone with the computer's sound costs %.3f %% of a core more than the "
                        "microphone alone\n", (two.cpuShare - one.cpuShare) * 100);
    }
    return mixed < 0.01 ? 0 : 1;
}
