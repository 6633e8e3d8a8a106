#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "CStreamEncoder.h"
#include "MediaProbe.h"
#include "NginxRtmpServer.h"
#include "TempDir.h"
#include "WaitFor.h"

using namespace testsupport;

namespace {

CStreamSettings Settings(int quality, const std::string& url, int width = 320, int height = 240, int fps = 15) {
    CStreamSettings s;
    s.width = width;
    s.height = height;
    s.sourceWidth = width;
    s.sourceHeight = height;
    s.frameRate = fps;
    s.quality = quality;
    s.url = url;
    s.bitRate = 300000;
    return s;
}

// Feeds `frames` pictures and the matching sound, a little faster than real time, the way the
// timer and the capture thread do. Returns false as soon as a SendVideo answers 0.
bool Publish(CStreamEncoder& encoder, const CStreamSettings& s, int frames, int firstFrame = 0) {
    const int blockSamples = encoder.AudioFrameBytes() / 2;
    long audioSample = static_cast<long>(firstFrame * static_cast<double>(s.sampleRate) / s.frameRate);
    for (int f = firstFrame; f < firstFrame + frames; ++f) {
        const auto picture = MovingPicture(s.sourceWidth, s.sourceHeight, f);
        if (encoder.SendVideo(picture.data(), static_cast<unsigned>(picture.size())) == 0) return false;
        // Sound up to the end of this picture.
        while (audioSample < static_cast<long>((f + 1) * static_cast<double>(s.sampleRate) / s.frameRate)) {
            const auto block = SineBlock(blockSamples, audioSample);
            EXPECT_EQ(1, encoder.SendAudio(block.data(), static_cast<int>(block.size())));
            audioSample += blockSamples;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return true;
}

// Every packet queued so far has gone to the muxer.
bool WriterDrained(const CStreamEncoder& encoder) {
    return WaitFor([&] { return encoder.PendingPackets() == 0; }, std::chrono::seconds(10));
}

class EncoderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.ErrorLog(); }
    NginxRtmpServer server_;
};

}  // namespace

// Every tuning level reaches libx264: the settings it ran with are read back from the stream.
TEST_F(EncoderTest, EachLevelReachesTheEncoderAndTheServer) {
    struct Expect {
        int quality;
        const char* profile;
        Fields options;
    };
    const Fields common = {{"bframes", "0"},      {"keyint", "250"},   {"keyint_min", "15"},
                           {"qpmin", "10"},       {"qpmax", "51"},     {"qpstep", "4"},
                           {"ip_ratio", "1.41"},  {"qcomp", "0.60"},   {"mbtree", "0"},
                           {"fast_pskip", "1"},   {"bitrate", "284"},
                           {"chroma_qp_offset", "0"}, {"rc", "abr"}};
    const std::vector<Expect> levels = {
        {0, "Constrained Baseline",
         {{"cabac", "0"}, {"ref", "1"}, {"me", "dia"}, {"subme", "0"}, {"trellis", "0"}, {"8x8dct", "0"},
          {"weightp", "0"}, {"mixed_ref", "0"}, {"scenecut", "0"}, {"aq", "0"}, {"deblock", "1:0:0"},
          {"psy", "0"}, {"me_range", "16"}, {"analyse", "0:0"}}},
        {1, "High",
         {{"cabac", "1"}, {"ref", "2"}, {"me", "hex"}, {"subme", "6"}, {"trellis", "1"}, {"8x8dct", "1"},
          {"weightp", "2"}, {"mixed_ref", "1"}, {"scenecut", "40"}, {"deblock", "1:0:0"}, {"psy", "0"},
          {"me_range", "16"}, {"analyse", "0x3:0x13"}}},
        {2, "High",
         {{"cabac", "1"}, {"ref", "4"}, {"me", "umh"}, {"subme", "8"}, {"trellis", "1"}, {"8x8dct", "1"},
          {"weightp", "2"}, {"mixed_ref", "1"}, {"scenecut", "40"}, {"deblock", "1:0:0"}, {"psy", "0"},
          {"me_range", "16"}, {"analyse", "0x3:0x13"}}},
    };
    for (const auto& level : levels) {
        SCOPED_TRACE("quality " + std::to_string(level.quality));
        const std::string name = "level" + std::to_string(level.quality);
        const CStreamSettings s = Settings(level.quality, server_.Url(name));
        {
            CStreamEncoder encoder(&s);
            // An RTMP address has no extension: the format is deduced, fails, and "flv" is used.
            testing::internal::CaptureStdout();
            ASSERT_EQ(1, encoder.Open(s.url, "flv"));
            EXPECT_EQ("Could not deduce output format from file extension.\n", testing::internal::GetCapturedStdout());
            EXPECT_EQ(2048, encoder.AudioFrameBytes());
            EXPECT_TRUE(Publish(encoder, s, 45));
            ASSERT_TRUE(WriterDrained(encoder));  // Close throws away what is still queued
            encoder.Close();
        }
        ASSERT_TRUE(server_.WaitRecordingClosed(name));

        const std::string file = server_.Recording(name);
        const auto streams = ProbeStreams(file);
        const Fields* video = StreamOfType(streams, "video");
        const Fields* audio = StreamOfType(streams, "audio");
        ASSERT_NE(video, nullptr) << file;
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ("h264", video->at("codec_name"));
        EXPECT_EQ("0", video->at("index"));
        EXPECT_EQ("320", video->at("width"));
        EXPECT_EQ("240", video->at("height"));
        EXPECT_EQ("15/1", video->at("r_frame_rate"));
        EXPECT_EQ(level.profile, video->at("profile"));
        EXPECT_EQ("aac", audio->at("codec_name"));
        EXPECT_EQ("1", audio->at("index"));
        EXPECT_EQ("22050", audio->at("sample_rate"));
        EXPECT_EQ("1", audio->at("channels"));

        const Fields options = X264Options(file);
        ASSERT_FALSE(options.empty()) << "no x264 settings in the stream";
        std::string all;
        for (const auto& [k, v] : options) all += k + "=" + v + " ";
        SCOPED_TRACE(all);
        for (const auto* expected : {&common, &level.options}) {
            for (const auto& [key, value] : *expected) {
                ASSERT_TRUE(options.count(key)) << key;
                EXPECT_EQ(value, options.at(key)) << key;
            }
        }

        // Stamped in arrival order: rising per stream, one frame period apart for pictures, and
        // sound never ahead of the pictures.
        const auto packets = ProbePackets(file);
        double lastVideo = -1, lastAudio = -1;
        int videoCount = 0, audioCount = 0;
        for (const auto& p : packets) {
            if (p.type == "video") {
                if (lastVideo >= 0) {
                    EXPECT_NEAR(1.0 / 15, p.pts - lastVideo, 0.0015);
                }
                lastVideo = p.pts;
                ++videoCount;
            } else {
                EXPECT_GT(p.pts, lastAudio);
                lastAudio = p.pts;
                ++audioCount;
            }
        }
        // The encoder holds one picture back, and Close does not wait for it.
        EXPECT_GE(videoCount, 44);
        EXPECT_GT(audioCount, 30);
        EXPECT_LE(lastAudio, lastVideo + 1.0 / 15);
    }
}

TEST_F(EncoderTest, SoundRulesAndClosingTwice) {
    TempDir dir;
    const CStreamSettings s = Settings(0, dir / "out.flv");
    CStreamEncoder encoder(&s);
    const std::vector<unsigned char> block(2048, 0);
    const auto picture = MovingPicture(s.sourceWidth, s.sourceHeight, 0);

    // Closed: nothing is accepted, and closing does nothing.
    encoder.Close();
    EXPECT_EQ(0, encoder.SendVideo(picture.data(), static_cast<unsigned>(picture.size())));
    EXPECT_EQ(0, encoder.SendAudio(block.data(), 2048));

    // A file name with an extension needs no second try.
    testing::internal::CaptureStdout();
    ASSERT_EQ(1, encoder.Open(s.url, "flv"));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    // Before any picture reached the muxer both clocks are 0: no sound is encoded.
    EXPECT_EQ(1, encoder.SendAudio(block.data(), 2048));
    EXPECT_EQ(0.0, encoder.AudioClock());
    // A block of the wrong size is ignored without error.
    EXPECT_EQ(1, encoder.SendAudio(block.data(), 1000));
    // A short picture is taken as far as it goes.
    EXPECT_EQ(1, encoder.SendVideo(picture.data(), 100));
    EXPECT_EQ(1, encoder.VideoFramesEncoded());
    encoder.Close();
    encoder.Close();
    EXPECT_FALSE(encoder.Running());

    // Reopened on the same object.
    ASSERT_EQ(1, encoder.Open(s.url, "flv"));
    EXPECT_TRUE(Publish(encoder, s, 10));
    encoder.Close();
    const auto packets = ProbePackets(s.url);
    EXPECT_LE(9, std::count_if(packets.begin(), packets.end(), [](const ProbedPacket& p) { return p.type == "video"; }));
}

// Any level other than 1 and 2 tunes as level 0.
TEST_F(EncoderTest, UnknownLevelTunesAsTheFastest) {
    TempDir dir;
    const CStreamSettings s = Settings(5, dir / "five.flv");
    CStreamEncoder encoder(&s);
    ASSERT_EQ(1, encoder.Open(s.url, "flv"));
    EXPECT_TRUE(Publish(encoder, s, 6));
    ASSERT_TRUE(WriterDrained(encoder));
    encoder.Close();
    const Fields options = X264Options(s.url);
    ASSERT_FALSE(options.empty());
    EXPECT_EQ("0", options.at("cabac"));
    EXPECT_EQ("dia", options.at("me"));
    EXPECT_EQ("1", options.at("ref"));
    const auto streams = ProbeStreams(s.url);
    const Fields* video = StreamOfType(streams, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ("Constrained Baseline", video->at("profile"));
}

// No server, or an address whose protocol a broadcast never needs (the output is held to RTMP's
// protocols, or to plain files for a local recording): the open fails and nothing is written.
// The diagnostic line on stderr carries FFmpeg's own reason.
TEST_F(EncoderTest, OpenFailsWithoutServerOrForAForeignProtocol) {
    const struct {
        std::string url;
        std::string diagnostic;
    } cases[] = {
        {"rtmp://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/live/none",
         "Could not open the output: Connection refused\n"},
        {"pipe:1", "Could not open the output: Invalid argument\n"},  // not on the protocol whitelist
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        CStreamSettings s = Settings(0, c.url);
        CStreamEncoder encoder(&s);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(0, encoder.Open(s.url, "flv"));
        const std::string diagnostics = testing::internal::GetCapturedStderr();
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string::npos, diagnostics.find(c.diagnostic)) << diagnostics;
        EXPECT_EQ(std::string::npos, printed.find("FLV")) << "the stream header went out";
        EXPECT_FALSE(encoder.Running());
        encoder.Close();
    }
}

// The server drops the publisher: the writer's next write fails and SendVideo answers 0.
TEST_F(EncoderTest, DroppedPublisherMakesSendVideoFail) {
    const CStreamSettings s = Settings(0, server_.Url("dropped"));
    CStreamEncoder encoder(&s);
    testing::internal::CaptureStdout();
    ASSERT_EQ(1, encoder.Open(s.url, "flv"));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(Publish(encoder, s, 10));
    EXPECT_EQ("1", server_.DropPublisher("dropped"));
    bool failed = false;
    for (int f = 0; f < 200 && !failed; ++f) failed = !Publish(encoder, s, 1, 10 + f);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(encoder.Running());
    encoder.Close();
}

// A stalled server makes the queue grow past the backlog bound: the writer drops it, and the
// picture restarts with a key frame instead of waiting for the next one of the interval.
TEST_F(EncoderTest, DiscardedBacklogIsFollowedByAKeyFrame) {
    CStreamSettings s = Settings(0, server_.Url("stall"), 640, 480);
    s.bitRate = 40000000;  // large pictures fill the socket buffers quickly
    CStreamEncoder encoder(&s);
    testing::internal::CaptureStdout();
    ASSERT_EQ(1, encoder.Open(s.url, "flv"));
    testing::internal::GetCapturedStdout();

    std::vector<unsigned char> noise(static_cast<size_t>(s.sourceWidth) * s.sourceHeight * 3);
    unsigned seed = 1;
    auto sendNoise = [&] {
        for (auto& b : noise) b = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
        return encoder.SendVideo(noise.data(), static_cast<unsigned>(noise.size()));
    };
    ASSERT_EQ(1, sendNoise());
    ASSERT_TRUE(WriterDrained(encoder));  // the writer has taken the first picture before the stall
    server_.Signal(SIGSTOP);
    // Until the writer hangs on the full connection...
    double clock = -1;
    int still = 0;
    for (int i = 0; i < 600 && still < 20; ++i) {
        ASSERT_EQ(1, sendNoise());
        still = encoder.VideoClock() == clock ? still + 1 : 0;
        clock = encoder.VideoClock();
    }
    ASSERT_EQ(20, still) << "the writer never stalled";
    // ...and the queue holds more than the bound.
    for (size_t i = 0; i < CStreamEncoder::kBacklogLimit + 10; ++i) ASSERT_EQ(1, sendNoise());
    EXPECT_EQ(0u, encoder.DiscardedPackets());
    server_.Signal(SIGCONT);
    WaitFor([&] { return encoder.DiscardedPackets() > 0; }, std::chrono::seconds(2));
    ASSERT_GT(encoder.DiscardedPackets(), CStreamEncoder::kBacklogLimit);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(1, sendNoise());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_TRUE(WriterDrained(encoder));
    encoder.Close();
    ASSERT_TRUE(server_.WaitRecordingClosed("stall"));

    const auto packets = ProbePackets(server_.Recording("stall"));
    int keys = 0;
    for (const auto& p : packets)
        if (p.type == "video" && p.key) ++keys;
    // The first picture of the stream, and the one after the discard; far fewer than 250 were sent.
    EXPECT_EQ(2, keys);
}

// Set-up failures of the codec layer end the process with status 1 after a line on stderr.
TEST(EncoderDeathTest, ConverterFailureEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    CStreamSettings s = Settings(0, dir / "none.flv");
    s.sourceWidth = 0;  // no picture to convert from
    EXPECT_EXIT(
        {
            CStreamEncoder encoder(&s);
            encoder.Open(s.url, "flv");
        },
        ::testing::ExitedWithCode(1), "Could not initialize the conversion context");
}
