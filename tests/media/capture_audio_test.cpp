#include <gtest/gtest.h>


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "CCaptureAudio.h"
#include "MediaProbe.h"
#include "AudioSources.h"
#include "SinePlayer.h"
#include "SoundPlayers.h"
#include "TempDir.h"
#include "WaitFor.h"

using namespace testsupport;

namespace {

class BlockCounter : public CAdoFrameHandler {
public:
    void OnAudioFrame(unsigned char* buffer, int bytes) override {
        std::lock_guard lock(mutex_);
        sizes_.push_back(bytes);
        samples_.insert(samples_.end(), reinterpret_cast<int16_t*>(buffer), reinterpret_cast<int16_t*>(buffer + bytes));
    }
    std::vector<int> Sizes() {
        std::lock_guard lock(mutex_);
        return sizes_;
    }
    std::vector<int16_t> Samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    size_t Count() {
        std::lock_guard lock(mutex_);
        return samples_.size();
    }

private:
    std::mutex mutex_;
    std::vector<int> sizes_;
    std::vector<int16_t> samples_;
};

double Rms(const std::vector<int16_t>& samples, size_t from) {
    double sum = 0;
    for (size_t i = from; i < samples.size(); ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return samples.size() > from ? std::sqrt(sum / static_cast<double>(samples.size() - from)) : 0;
}

}  // namespace

TEST(PulseSourcesTest, DefaultFirstThenEverySourceWithMonitors) {
    const auto sources = platform::ListAudioSources();
    ASSERT_GE(sources.size(), 2u);
    EXPECT_EQ("", sources[0].name);
    EXPECT_NE(std::string::npos, sources[0].description.find("默认设备"));
    bool monitor = false;
    for (size_t i = 1; i < sources.size(); ++i) {
        EXPECT_FALSE(sources[i].name.empty());
        EXPECT_FALSE(sources[i].description.empty());
        if (sources[i].name == "s1.monitor") monitor = true;
    }
    EXPECT_TRUE(monitor);
}

// Of several processes, those that play sound: one that plays through a child it started
// counts, one that plays nothing does not, and neither does one after its sound has ended.
TEST(PulseSourcesTest, WhichProcessesPlaySound) {
    SinePlayer quiet(0, 440.0, "s1", true, 0, "/nonexistent/never");
    SinePlayer game(30, 440.0, "s1", /*childOfShell=*/true);
    ASSERT_TRUE(game.Started());
    ASSERT_TRUE(quiet.Started());
    const std::vector<long> both = {quiet.Pid(), game.Pid()};
    EXPECT_TRUE(testsupport::WaitFor([&] { return platform::PlayingSound(both) == std::vector<long>{game.Pid()}; }))
        << "the game's sound was not found";
    game.Stop();
    EXPECT_TRUE(testsupport::WaitFor([&] { return platform::PlayingSound(both).empty(); }))
        << "a process that stopped playing still counts";
}

// A monitor delivers nothing while nothing plays; the capture still delivers whole blocks at
// the nominal rate.
TEST(CCaptureAudioTest, WholeBlocksAtTheRateFromAQuietMonitor) {
    CCaptureAudio capture;
    BlockCounter handler;
    capture.SetFormat(22050, 16, 1);
    ASSERT_TRUE(capture.Open(std::string()));  // the default source
    capture.SetBlockBytes(2048);
    ASSERT_TRUE(capture.Start(&handler));
    EXPECT_TRUE(capture.Capturing());
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    capture.Stop();
    capture.Stop();  // a second stop does nothing
    EXPECT_FALSE(capture.Capturing());
    EXPECT_EQ(0, capture.BlockBytes());
    const auto sizes = handler.Sizes();
    // 2.2 s at 44100 bytes/s is 47 blocks; up to 200 ms may still lie in the server.
    EXPECT_GE(sizes.size(), 40u);
    EXPECT_LE(sizes.size(), 48u);
    for (int size : sizes) EXPECT_EQ(2048, size);
    const auto later = handler.Sizes().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(later, handler.Sizes().size());
}

TEST(CCaptureAudioTest, SinePlayedIntoTheSinkComesOut) {
    CCaptureAudio capture;
    BlockCounter handler;
    capture.SetFormat(22050, 16, 1);
    ASSERT_TRUE(capture.Open(std::string("s1.monitor")));
    capture.SetBlockBytes(2048);
    SinePlayer player(20);
    ASSERT_TRUE(capture.Start(&handler));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    capture.Stop();
    const auto samples = handler.Samples();
    ASSERT_GT(samples.size(), 22050u);
    // The last half second: loud, and about 440 zero crossings upward per second.
    const size_t from = samples.size() - 11025;
    EXPECT_GT(Rms(samples, from), 4000.0);
    int crossings = 0;
    for (size_t i = from + 1; i < samples.size(); ++i)
        if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
    EXPECT_NEAR(220, crossings, 10);
}

// A microphone chosen by name that is unplugged and plugged in again is heard again within 5 s.
TEST(CCaptureAudioTest, AMicrophoneChosenByNameIsFollowedWhenItComesBack) {
    TestMicrophone microphone;
    ASSERT_TRUE(microphone.Ready());
    SinePlayer voice(60, 440, "micsink");
    ASSERT_TRUE(voice.Started());
    CCaptureAudio capture;
    BlockCounter handler;
    capture.SetFormat(22050, 16, 1);
    ASSERT_TRUE(capture.Open(std::string("mic")));
    capture.SetBlockBytes(2048);
    ASSERT_TRUE(capture.Start(&handler));
    // The level of the last half second, once that much more has come.
    const auto lastHalfSecond = [&handler] {
        const size_t wanted = handler.Count() + 11025;
        if (!WaitFor([&] { return handler.Count() >= wanted; })) return -1.0;
        const auto samples = handler.Samples();
        return Rms(samples, samples.size() - 11025);
    };
    const auto heard = [&] { return lastHalfSecond() > 3000; };
    ASSERT_TRUE(WaitFor(heard, std::chrono::milliseconds(10000), std::chrono::milliseconds(0)));
    ASSERT_TRUE(microphone.Unplug());
    // The blocks go on without it (where the server moves the stream meanwhile is its own affair).
    for (int i = 0; i < 3; ++i) ASSERT_GE(lastHalfSecond(), 0.0);
    ASSERT_TRUE(microphone.PlugIn());
    const auto back = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitFor(heard, std::chrono::milliseconds(5000), std::chrono::milliseconds(0)))
        << "the microphone was not heard again";
    std::printf("[ sound    ] heard again %.1f s after the microphone came back\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count());
    capture.Stop();
}

TEST(CCaptureAudioTest, OpenFailures) {
    CCaptureAudio capture;
    BlockCounter handler;
    capture.SetFormat(22050, 16, 1);
    EXPECT_FALSE(capture.Open(std::nullopt));  // the "none" entry
    // The diagnostic line carries the sound server's own reason.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(capture.Open(std::string("no.such.source")));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, diagnostics.find("Could not open the sound source 'no.such.source': No such entity\n"))
        << diagnostics;
    capture.SetBlockBytes(2048);
    EXPECT_FALSE(capture.Start(&handler));  // nothing open: no thread
    EXPECT_FALSE(capture.Capturing());      // and nothing said to be capturing
    capture.Stop();
    EXPECT_TRUE(handler.Sizes().empty());
    // Reopening after a stop works.
    ASSERT_TRUE(capture.Open(std::string()));
    capture.SetBlockBytes(2048);
    ASSERT_TRUE(capture.Start(&handler));
    capture.Stop();
}

TEST(CCaptureAudioTest, SilenceIsPacedByTheClock) {
    CCaptureAudio capture([](const std::string&, const platform::AudioFormat&) { return nullptr; });
    BlockCounter handler;
    capture.SetFormat(22050, 16, 1);
    EXPECT_FALSE(capture.Open(std::string()));
    ASSERT_TRUE(capture.OpenSilence());
    EXPECT_TRUE(capture.Silent());
    capture.SetBlockBytes(2048);
    ASSERT_TRUE(capture.Start(&handler));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    capture.Stop();
    const auto sizes = handler.Sizes();
    // One block per 46.4 ms.
    EXPECT_GE(sizes.size(), 20u);
    EXPECT_LE(sizes.size(), 22u);
    EXPECT_EQ(0.0, Rms(handler.Samples(), 0));
}

TEST(CCaptureAudioTest, NoSoundServer) {
    const char* saved = std::getenv("PULSE_SERVER");
    const std::string previous = saved ? saved : "";
    TempDir dir;
    setenv("PULSE_SERVER", ("unix:" + (dir / "nothing")).c_str(), 1);
    EXPECT_TRUE(platform::ListAudioSources().empty());
    CCaptureAudio capture;
    capture.SetFormat(22050, 16, 1);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(capture.Open(std::string()));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, diagnostics.find("Could not open the sound source '': Connection refused\n"))
        << diagnostics;
    if (saved) setenv("PULSE_SERVER", previous.c_str(), 1); else unsetenv("PULSE_SERVER");
}

namespace {

using Clock = std::chrono::steady_clock;

// A source on a timetable: by `t` seconds after it opened it has delivered delivered(t) samples
// of `value`, and the server says it owes owed(t) more. From `failsAt` seconds on (when it is
// set) it fails, as a stream does whose server or device went away.
struct TimetableInput : platform::IAudioInput {
    std::function<long(double)> delivered;
    std::function<long(double)> owed;
    int16_t value = 1000;
    double failsAt = 0;
    Clock::time_point start = Clock::now();
    long sent = 0;

    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
    long Read(unsigned char* out, std::size_t size) override {
        if (failsAt > 0 && Elapsed() >= failsAt) return -1;
        const long n = std::min(static_cast<long>(size / 2), delivered(Elapsed()) - sent);
        for (long i = 0; i < n; ++i) std::memcpy(out + i * 2, &value, 2);
        sent += std::max(0L, n);
        return std::max(0L, n) * 2;
    }
    long long OwedBytes() override { return owed ? owed(Elapsed()) * 2 : 0; }
};

}  // namespace

// Each source is timed by the clock: sound delivered in large blocks, early or late, is kept
// whole and nothing is filled in while the server says more is on its way; a source whose
// clock runs far too fast loses only its excess; one whose clock is a little off, as a USB
// microphone's is, is followed, neither filled nor trimmed nor drifting away; several sources
// are summed, held at full scale.
TEST(CCaptureAudioTest, EachSourceIsTimedByTheClock) {
    constexpr long kRate = 22050;
    const auto every20ms = [](double factor) {
        return [factor](double t) { return static_cast<long>(std::floor(t / 0.02) * 441 * factor); };
    };
    struct Case {
        const char* name;
        std::vector<std::function<long(double)>> delivered;
        std::function<long(double)> owed;
        double seconds;
        int16_t expectedValue;  // of every sample after the first sound
        double trimmedMs;  // at most this trimmed; below 0: some, as much as it takes
        // When set: nothing filled, and neither behind the clock at the end nor ever holding
        // more than this. Drift three times a bad microphone's shows within seconds.
        double mostOffMs;
    };
    const Case cases[] = {
        {"every 20 ms", {every20ms(1.0)}, nullptr, 2.5, 1000, 0, 0},
        // module-sine-source: two seconds at once, ahead of their time.
        {"2 s blocks ahead", {[](double t) { return static_cast<long>(std::floor(t / 2) + 1) * 2 * kRate; }}, nullptr,
         4.5, 1000, 0, 0},
        // A network source: each second arrives a second late, and the server says so.
        {"1 s blocks late",
         {[](double t) { return static_cast<long>(std::floor(t)) * kRate; }},
         [](double t) { return static_cast<long>(t * kRate) - static_cast<long>(std::floor(t)) * kRate; }, 4.5, 1000,
         0, 0},
        {"10 % fast", {every20ms(1.1)}, nullptr, 4.5, 1000, -1, 0},
        // The server says a part is on its way, as it does for each part until it is delivered.
        {"0.3 % slow", {every20ms(0.997)},
         [](double t) { return static_cast<long>((t / 0.02 - std::floor(t / 0.02)) * 441 * 0.997); }, 25, 1000, 0,
         65},
        {"0.3 % fast", {every20ms(1.003)}, nullptr, 25, 1000, 0, 65},
        // A microphone whose server had a second of it waiting when the capture began: it meets
        // the rule for excess at once, and is then followed from inside it.
        {"0.3 % fast after a second at once", {[&](double t) { return kRate + every20ms(1.003)(t); }}, nullptr, 10,
         1000, 1, 0},
        {"two summed", {every20ms(1.0), every20ms(1.0)}, nullptr, 2.5, 2000, 0, 0},
        {"two saturate", {every20ms(1.0), every20ms(1.0)}, nullptr, 2.5, INT16_MAX, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int16_t value = c.expectedValue == INT16_MAX ? 20000 : 1000;
        CCaptureAudio capture(CCaptureAudio::SourcesFactory(
            [&](const platform::AudioSourceChoice&, const platform::AudioFormat&) -> std::unique_ptr<platform::IAudioSources> {
                std::vector<std::unique_ptr<platform::IAudioInput>> inputs;
                for (const auto& timetable : c.delivered) {
                    auto input = std::make_unique<TimetableInput>();
                    input->delivered = timetable;
                    input->owed = c.owed;
                    input->value = value;
                    inputs.push_back(std::move(input));
                }
                return std::make_unique<platform::AudioInputList>(std::move(inputs));
            }));
        BlockCounter handler;
        capture.SetFormat(kRate, 16, 1);
        ASSERT_TRUE(capture.Open(platform::AudioSourceChoice::MicrophoneAndComputer()));
        capture.SetBlockBytes(2048);
        const auto started = Clock::now();
        ASSERT_TRUE(capture.Start(&handler));
        // Until the clock's share of sound has come; the source's blocks arrive when they do.
        const auto wanted = static_cast<size_t>((c.seconds - 0.5) * kRate);
        EXPECT_TRUE(WaitFor([&] { return handler.Count() >= wanted; },
                            std::chrono::milliseconds(static_cast<int>(c.seconds * 1000) + 10000)));
        const auto figures = capture.MixFigures();
        capture.Stop();
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        const auto samples = handler.Samples();
        size_t first = 0;
        while (first < samples.size() && samples[first] == 0) ++first;
        ASSERT_LT(first, samples.size()) << "no sound at all";
        // Sound from the first sample on, until the end: no silence was put between its blocks.
        size_t other = 0;
        for (size_t i = first; i < samples.size(); ++i)
            if (samples[i] != c.expectedValue) ++other;
        EXPECT_EQ(0u, other);
        // Whole blocks at the rate, behind the clock by no more than the latest block.
        const double seconds = static_cast<double>(samples.size()) / kRate;
        EXPECT_GT(seconds, elapsed - 1.3);
        EXPECT_LE(seconds, elapsed + 0.05);
        if (c.trimmedMs < 0) EXPECT_GT(figures.trimmedBytes, 0);
        else EXPECT_LE(figures.trimmedBytes * 1000.0 / (2 * kRate), c.trimmedMs) << figures.trimmedBytes << " bytes trimmed";
        if (c.mostOffMs > 0) {
            const double msPerByte = 1000.0 / (2 * kRate);
            std::printf("[ drift    ] %s: %.0f ms behind at the end, at most %.0f ms held, corrected by %d ppm\n", c.name,
                        figures.lagBytes * msPerByte, figures.maxHeldBytes * msPerByte,
                        figures.lowPpm + figures.highPpm);
            EXPECT_EQ(0, figures.filledBytes) << "silence was put in";
            EXPECT_LE(figures.lagBytes * msPerByte, c.mostOffMs) << "the mix fell behind the source";
            EXPECT_LE(figures.maxHeldBytes * msPerByte, c.mostOffMs) << "the source's sound piled up";
        }
        // Never more held than the largest block and the slack.
        EXPECT_LE(figures.maxHeldBytes, 2 * 2 * kRate + 2 * kRate * CCaptureAudio::kSlackMs / 1000);
    }
}

// A set that follows its streams, as the game's does: a stream that fails leaves it, and only a
// lost connection has it opened again.
struct FollowingSet : platform::IAudioSources {
    std::unique_ptr<TimetableInput> input;
    double lostAt = 0;
    bool dropped = false;
    std::vector<Stream> Streams() override {
        if (dropped) return {};
        return {{0, input.get()}};
    }
    bool StreamFailed(unsigned) override {
        dropped = true;
        return false;
    }
    bool Lost() override { return lostAt > 0 && input->Elapsed() >= lostAt; }
};

// A source that fails is opened again, with a pause that grows while the server cannot open it;
// meanwhile the blocks go on at the clock's pace, silent where the failed stream was, and a
// stream beside it that still works is still heard. The set is lost at 0.5 s.
TEST(CCaptureAudioTest, AFailedSourceIsOpenedAgainWithAGrowingPause) {
    constexpr long kRate = 22050;
    const auto every20ms = [](double t) { return static_cast<long>(std::floor(t / 0.02) * 441); };
    struct Case {
        const char* name;
        bool beside;       // the microphone beside the computer's sound: only the first fails
        bool follows;      // a set that follows its streams: one fails at 0.2 s, the set goes on
        int refusals;      // opens that fail before the source is back
        int16_t gapValue;  // of the sound while the source is away
    };
    const Case cases[] = {
        {"one source, the server away", false, false, 3, 0},
        {"the microphone fails beside the computer's sound", true, false, 2, 100},
        {"the game's stream fails, then its connection is lost", false, true, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex mutex;
        std::vector<Clock::time_point> opens;
        CCaptureAudio capture(CCaptureAudio::SourcesFactory(
            [&](const platform::AudioSourceChoice&, const platform::AudioFormat&) -> std::unique_ptr<platform::IAudioSources> {
                std::lock_guard lock(mutex);
                opens.push_back(Clock::now());
                const int attempt = static_cast<int>(opens.size()) - 1;
                if (attempt >= 1 && attempt <= c.refusals) return nullptr;
                std::vector<std::unique_ptr<platform::IAudioInput>> inputs;
                auto first = std::make_unique<TimetableInput>();
                first->delivered = every20ms;
                first->value = attempt == 0 ? 1000 : 3000;
                if (c.follows) {
                    auto set = std::make_unique<FollowingSet>();
                    first->failsAt = attempt == 0 ? 0.2 : 0;
                    set->lostAt = attempt == 0 ? 0.5 : 0;
                    set->input = std::move(first);
                    return set;
                }
                first->failsAt = attempt == 0 ? 0.5 : 0;
                inputs.push_back(std::move(first));
                if (c.beside) {
                    auto other = std::make_unique<TimetableInput>();
                    other->delivered = every20ms;
                    other->value = 100;
                    inputs.push_back(std::move(other));
                }
                return std::make_unique<platform::AudioInputList>(std::move(inputs));
            }));
        BlockCounter handler;
        capture.SetFormat(kRate, 16, 1);
        ASSERT_TRUE(capture.Open(platform::AudioSourceChoice::MicrophoneAndComputer()));
        capture.SetBlockBytes(2048);
        const auto started = Clock::now();
        ASSERT_TRUE(capture.Start(&handler));
        const int16_t back = static_cast<int16_t>(c.beside ? 3100 : 3000);
        const auto hasComeBack = [&] {
            const auto samples = handler.Samples();
            return std::find(samples.begin(), samples.end(), back) != samples.end();
        };
        EXPECT_TRUE(WaitFor(hasComeBack, std::chrono::milliseconds(10000), std::chrono::milliseconds(20)))
            << "the source was not opened again";
        // A second of it once back.
        const size_t wanted = handler.Count() + kRate;
        EXPECT_TRUE(WaitFor([&] { return handler.Count() >= wanted; }, std::chrono::milliseconds(5000)));
        capture.Stop();
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        std::vector<Clock::time_point> tries;
        {
            std::lock_guard lock(mutex);
            tries = opens;
        }
        // The first open, the refused ones, and the one that took; nothing after it.
        ASSERT_EQ(static_cast<size_t>(c.refusals + 2), tries.size());
        const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
        // The first try soon after the failure at 0.5 s; each pause at least half again the last,
        // none longer than the longest pause.
        std::vector<double> pauses = {ms(tries[1] - tries[0]) - 500.0};
        for (size_t i = 2; i < tries.size(); ++i) pauses.push_back(ms(tries[i] - tries[i - 1]));
        EXPECT_GE(pauses[0], CCaptureAudio::kReopenFirstMs - 20.0) << "opened again before the set was lost";
        EXPECT_LT(pauses[0], 2.0 * CCaptureAudio::kReopenFirstMs);
        for (size_t i = 1; i < pauses.size(); ++i) {
            EXPECT_GE(pauses[i], 1.5 * pauses[i - 1] - 20) << "pause " << i;
            EXPECT_LE(pauses[i], CCaptureAudio::kReopenMostMs + 200.0) << "pause " << i;
        }
        const auto samples = handler.Samples();
        // Whole blocks at the rate all along.
        const double seconds = static_cast<double>(samples.size()) / kRate;
        EXPECT_GT(seconds, elapsed - 0.5);
        EXPECT_LE(seconds, elapsed + 0.05);
        // The source's sound, then what is left while it is away, then the source again: each
        // sample one of these, in that order.
        const int16_t before = static_cast<int16_t>(c.beside ? 1100 : 1000);
        size_t i = 0;
        while (i < samples.size() && samples[i] != before) ++i;
        ASSERT_LT(i, samples.size()) << "the source was never heard";
        while (i < samples.size() && samples[i] == before) ++i;
        // Silence only where the mix waited for the failed stream: the gap is closed up to the
        // clock when the set is back, so that it starts with the slack of a fresh start.
        size_t gap = 0, silent = 0;
        for (; i < samples.size() && samples[i] != back; ++i, ++gap) {
            if (samples[i] == 0) {
                ++silent;
                continue;
            }
            ASSERT_EQ(c.gapValue, samples[i]) << "at " << i;
        }
        EXPECT_GT(gap, static_cast<size_t>(kRate / 2)) << "the refused opens took no time";
        if (c.gapValue != 0) {
            EXPECT_LE(silent, static_cast<size_t>(kRate * (CCaptureAudio::kSlackMs + 50) / 1000));
        }
        for (; i < samples.size(); ++i) ASSERT_EQ(back, samples[i]) << "at " << i;
    }
}

TEST(CCaptureAudioMixTest, SumsHeldAtTheLimits) {
    struct Case {
        int16_t a, b, sum;
    };
    for (const Case c : {Case{1000, 2000, 3000}, Case{-1000, 500, -500}, Case{30000, 10000, INT16_MAX},
                         Case{-30000, -10000, INT16_MIN}, Case{INT16_MAX, INT16_MIN, -1}}) {
        int16_t out = c.a;
        CCaptureAudio::MixInto(&out, &c.b, 1);
        EXPECT_EQ(c.sum, out) << c.a << " + " << c.b;
    }
}

TEST(CCaptureAudioRingTest, WrapsAroundTheEnd) {
    CCaptureAudio::Ring ring;
    std::vector<unsigned char> big(CCaptureAudio::kRingBytes - 100, 7);
    EXPECT_EQ(big.size(), ring.Write(big.data(), big.size()));
    std::vector<unsigned char> out(big.size());
    EXPECT_EQ(big.size(), ring.Read(out.data(), out.size()));
    // 300 bytes starting 100 before the end: two parts, read back in order.
    std::vector<unsigned char> data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(300u, ring.Write(data.data(), data.size()));
    std::vector<unsigned char> back(300);
    EXPECT_EQ(300u, ring.Read(back.data(), 1000));
    EXPECT_EQ(data, back);
    // Writing more than fits takes what fits.
    EXPECT_EQ(CCaptureAudio::kRingBytes, ring.WriteSilence(CCaptureAudio::kRingBytes + 5));
    EXPECT_EQ(0u, ring.Free());
}
