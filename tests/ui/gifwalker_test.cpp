// The GIF block walker on well-formed, truncated and hostile files. Run under AddressSanitizer
// these also prove that no read leaves the data.

#include <cstring>

#include <gtest/gtest.h>

#include "GifBlockWalker.h"
#include "TestGifs.h"

using testgifs::FrameSpec;

namespace {

std::vector<std::uint8_t> ThreeFrames() {
    return testgifs::Make(20, 10, {{0, 0, 20, 10, testgifs::kBlue, 0, 1},
                                   {2, 3, 5, 4, testgifs::kRed, 5, 2},
                                   {10, 0, 10, 10, testgifs::kGreen, 0, 3, false}});
}

// A heap copy of exactly `size` bytes, so any read past the end is caught.
std::vector<std::uint8_t> Prefix(const std::vector<std::uint8_t>& data, std::size_t size) {
    return std::vector<std::uint8_t>(data.begin(), data.begin() + static_cast<long>(size));
}

}  // namespace

TEST(GifBlockWalker, ReadsScreenFramesTimingAndPlacement) {
    const auto gif = ThreeFrames();
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    EXPECT_EQ(walker.ScreenWidth(), 20);
    EXPECT_EQ(walker.ScreenHeight(), 10);
    EXPECT_EQ(walker.GlobalTableSize(), 12u);  // four colours
    // Background index 2 of the palette: green.
    EXPECT_EQ(walker.Background().red, 0);
    EXPECT_EQ(walker.Background().green, 255);
    EXPECT_EQ(walker.Background().blue, 0);
    const auto& frames = walker.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].delay, 0);
    EXPECT_EQ(frames[0].disposal, 1);
    EXPECT_EQ(frames[1].delay, 5);
    EXPECT_EQ(frames[1].disposal, 2);
    EXPECT_EQ((std::vector<int>{frames[1].left, frames[1].top, frames[1].width, frames[1].height}),
              (std::vector<int>{2, 3, 5, 4}));
    EXPECT_EQ(frames[2].delay, -1) << "no graphic control extension";
    EXPECT_EQ(frames[2].disposal, 0);
}

TEST(GifBlockWalker, CutsStandAloneOneFrameGifs) {
    const auto gif = ThreeFrames();
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    const auto one = walker.BuildFrameGif(1);
    ASSERT_GT(one.size(), 13u);
    EXPECT_EQ(std::memcmp(one.data(), "GIF89a", 6), 0);
    EXPECT_EQ(one.back(), 0x3B);
    GifBlockWalker again;
    ASSERT_TRUE(again.Walk(one.data(), one.size()));
    ASSERT_EQ(again.Frames().size(), 1u);
    // The screen is the frame's own size, the frame sits at (0, 0), the timing is kept.
    EXPECT_EQ(again.ScreenWidth(), 5);
    EXPECT_EQ(again.ScreenHeight(), 4);
    EXPECT_EQ(again.Frames()[0].left, 0);
    EXPECT_EQ(again.Frames()[0].top, 0);
    EXPECT_EQ(again.Frames()[0].delay, 5);
    EXPECT_EQ(again.Frames()[0].disposal, 2);
    EXPECT_TRUE(walker.BuildFrameGif(3).empty());
}

TEST(GifBlockWalker, OtherSignaturesAndVersionsAreNotWalked) {
    GifBlockWalker walker;
    auto gif = ThreeFrames();
    gif[4] = '8';  // "GIF88a"
    EXPECT_FALSE(walker.Walk(gif.data(), gif.size()));
    EXPECT_FALSE(walker.IsGif());
    const std::uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_FALSE(walker.Walk(png, sizeof png));
    EXPECT_FALSE(walker.Walk(gif.data(), 5));
    EXPECT_FALSE(walker.Walk(nullptr, 0));
}

TEST(GifBlockWalker, EveryTruncationStaysInsideTheData) {
    const auto gif = ThreeFrames();
    std::size_t previous = 0;
    for (std::size_t size = 6; size <= gif.size(); ++size) {
        const auto cut = Prefix(gif, size);
        GifBlockWalker walker;
        ASSERT_TRUE(walker.Walk(cut.data(), cut.size()));
        const auto& frames = walker.Frames();
        ASSERT_LE(frames.size(), 3u);
        EXPECT_GE(frames.size(), previous) << "a longer file never has fewer frames";
        previous = frames.size();
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_LE(frames[i].dataEnd, size);
            EXPECT_FALSE(walker.BuildFrameGif(i).empty());
        }
    }
    EXPECT_EQ(previous, 3u);
}

TEST(GifBlockWalker, ColourTablePastTheEndIsRefused) {
    auto gif = ThreeFrames();
    gif[10] = 0xF7;  // announce 256 colours: 768 bytes that are not there
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    EXPECT_TRUE(walker.Frames().empty());
    EXPECT_EQ(walker.GlobalTableSize(), 0u);
}

TEST(GifBlockWalker, BackgroundIndexOutsideTheTableIsIgnored) {
    auto gif = ThreeFrames();
    gif[11] = 200;  // the table has four entries
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    EXPECT_EQ(walker.Background().red, 255);
    EXPECT_EQ(walker.Background().green, 255);
    EXPECT_EQ(walker.Background().blue, 255);
    EXPECT_EQ(walker.Frames().size(), 3u);
}

TEST(GifBlockWalker, LengthBytePastTheEndEndsTheWalk) {
    // Header, 2-colour table, one frame whose first data sub-block claims 200 bytes.
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    const std::vector<std::uint8_t> frame = {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 2, 200, 1, 2, 3};
    gif.insert(gif.end(), frame.begin(), frame.end());
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    EXPECT_TRUE(walker.Frames().empty());
}

TEST(GifBlockWalker, UnknownBlockEndsTheWalkKeepingEarlierFrames) {
    auto gif = ThreeFrames();
    GifBlockWalker first;
    ASSERT_TRUE(first.Walk(gif.data(), gif.size()));
    gif[first.Frames()[1].dataEnd] = 0x99;  // where the third frame's image would begin
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    EXPECT_EQ(walker.Frames().size(), 2u);
}

TEST(GifBlockWalker, ShortGraphicControlBlockGivesNoTiming) {
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    const std::vector<std::uint8_t> body = {0x21, 0xF9, 0x02, 0x08, 0x05, 0x00,          // control block of 2 bytes
                                            0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0x00, 0x3B};
    gif.insert(gif.end(), body.begin(), body.end());
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    ASSERT_EQ(walker.Frames().size(), 1u);
    EXPECT_EQ(walker.Frames()[0].delay, -1);
}

TEST(GifBlockWalker, ThousandsOfEmptyFramesAreCut) {
    std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    // Each frame: an image descriptor of size 0x0 with no image data at all.
    const std::vector<std::uint8_t> empty = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0};
    for (int i = 0; i < 20000; ++i) gif.insert(gif.end(), empty.begin(), empty.end());
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(gif.data(), gif.size()));
    EXPECT_EQ(walker.Frames().size(), GifBlockWalker::kMaxFrames);
}
