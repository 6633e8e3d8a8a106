// The animated picture control: loading, frame timing, disposal, clipping, stop and resume,
// and an unload that does not hang on a thread that will not end.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "CPictureEx.h"
#include "TestGifs.h"
#include "TempDir.h"

using testgifs::FrameSpec;
using Clock = std::chrono::steady_clock;

namespace {

bool Load(CPictureEx& picture, const std::vector<std::uint8_t>& bytes) {
    return picture.Load(bytes.data(), bytes.size());
}

// Collects what the animation thread reports: frame indices, when, and the picture then.
class FrameLog {
public:
    void Attach(CPictureEx& picture, bool keepPictures = false) {
        picture.SetFrameObserver([this, &picture, keepPictures](unsigned index) {
            std::lock_guard<std::mutex> lock(mutex_);
            indices_.push_back(index);
            times_.push_back(Clock::now());
            if (keepPictures) pictures_.push_back(picture.Picture());
            changed_.notify_all();
        });
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return indices_.size() >= count; });
    }
    std::vector<unsigned> Indices() {
        std::lock_guard<std::mutex> lock(mutex_);
        return indices_;
    }
    std::vector<Clock::time_point> Times() {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_;
    }
    std::vector<QImage> Pictures() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pictures_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        indices_.clear();
        times_.clear();
        pictures_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<unsigned> indices_;
    std::vector<Clock::time_point> times_;
    std::vector<QImage> pictures_;
};

long Ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

TEST(CPictureEx, FrameWaitFollowsTheDelayWithAFloorOf100Ms) {
    EXPECT_EQ(CPictureEx::FrameWaitMs(-1), 100);  // no graphic control extension
    for (int delay = 0; delay <= 4; ++delay) EXPECT_EQ(CPictureEx::FrameWaitMs(delay), 100) << delay;
    EXPECT_EQ(CPictureEx::FrameWaitMs(5), 50);
    EXPECT_EQ(CPictureEx::FrameWaitMs(25), 250);
}

TEST(CPictureEx, SingleFrameGifIsDrawnOnceWithoutAThread) {
    CPictureEx picture;
    ASSERT_TRUE(Load(picture, testgifs::Make(8, 6, {{0, 0, 8, 6, testgifs::kRed}})));
    EXPECT_TRUE(picture.IsGIF());
    EXPECT_EQ(picture.GetSize(), QSize(8, 6));
    EXPECT_EQ(picture.size(), QSize(8, 6)) << "the control takes the picture's size";
    EXPECT_TRUE(picture.Draw());
    EXPECT_FALSE(picture.HasAnimationThread());
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_EQ(picture.Picture().pixelColor(4, 3), QColor(Qt::red));
}

TEST(CPictureEx, AnimationTimesFramesByTheirDelays) {
    CPictureEx picture;
    // Delays 0 (shown 100 ms), 5 (50 ms) and none (100 ms).
    ASSERT_TRUE(Load(picture, testgifs::Make(4, 4, {{0, 0, 4, 4, testgifs::kRed, 0},
                                                    {0, 0, 4, 4, testgifs::kGreen, 5},
                                                    {0, 0, 4, 4, testgifs::kBlue, 0, 0, false}})));
    ASSERT_EQ(picture.FrameCount(), 3);
    EXPECT_EQ(picture.FrameDelay(2), -1);
    FrameLog log;
    log.Attach(picture);
    EXPECT_FALSE(picture.Draw()) << "an animation answers false and plays on its thread";
    EXPECT_TRUE(picture.HasAnimationThread());
    ASSERT_TRUE(log.WaitFor(10));
    picture.Stop();
    const auto indices = log.Indices();
    const auto times = log.Times();
    long shown[3] = {0, 0, 0};
    int counted[3] = {0, 0, 0};
    for (std::size_t i = 0; i + 1 < times.size(); ++i) {
        EXPECT_EQ(indices[i + 1], (indices[i] + 1) % 3);
        const long ms = Ms(times[i + 1] - times[i]);
        shown[indices[i]] += ms;
        ++counted[indices[i]];
        const long wanted = indices[i] == 1 ? 50 : 100;
        EXPECT_GE(ms, wanted - 5) << "frame " << indices[i];
    }
    ASSERT_GT(counted[1], 0);
    ASSERT_GT(counted[0], 0);
    EXPECT_LT(shown[1] / counted[1], shown[0] / counted[0]) << "the delay-5 frame is the short one";
}

TEST(CPictureEx, DisposalRestoresAndClearsAndFramesAreClippedToTheScreen) {
    CPictureEx picture;
    // 0: blue everywhere; 1: red square, restore-previous; 2: red square past the right and
    // bottom edges, clear to background; 3: unchanged screen.
    ASSERT_TRUE(Load(picture, testgifs::Make(20, 10, {{0, 0, 20, 10, testgifs::kBlue, 5, 1},
                                                      {0, 0, 5, 5, testgifs::kRed, 5, 3},
                                                      {15, 5, 10, 10, testgifs::kRed, 5, 2},
                                                      {0, 0, 1, 1, testgifs::kBlue, 5, 1}})));
    picture.SetBkColor(Qt::white);
    FrameLog log;
    log.Attach(picture, true);
    picture.Draw();
    ASSERT_TRUE(log.WaitFor(4));
    picture.Stop();
    const auto pictures = log.Pictures();
    ASSERT_GE(pictures.size(), 4u);
    EXPECT_EQ(pictures[1].pixelColor(2, 2), QColor(Qt::red));
    EXPECT_EQ(pictures[2].pixelColor(2, 2), QColor(Qt::blue)) << "restored after frame 1";
    EXPECT_EQ(pictures[2].size(), QSize(20, 10)) << "a frame past the edge does not grow the picture";
    EXPECT_EQ(pictures[2].pixelColor(19, 9), QColor(Qt::red)) << "the visible part of the clipped frame";
    EXPECT_EQ(pictures[2].pixelColor(14, 9), QColor(Qt::blue));
    EXPECT_EQ(pictures[3].pixelColor(19, 9), QColor(Qt::white)) << "cleared to the background after frame 2";
}

TEST(CPictureEx, StopKeepsTheFrameAndDrawResumesFromIt) {
    CPictureEx picture;
    std::vector<FrameSpec> frames;
    for (int i = 0; i < 5; ++i) frames.push_back({0, 0, 2, 2, i % 2 ? testgifs::kRed : testgifs::kBlue, 5});
    ASSERT_TRUE(Load(picture, testgifs::Make(2, 2, frames)));
    FrameLog log;
    log.Attach(picture);
    picture.Draw();
    picture.Draw();  // already playing: no second thread
    ASSERT_TRUE(log.WaitFor(3));
    picture.Stop();
    const auto seen = log.Indices();
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i % 5) << "one thread, frames in order";
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_FALSE(picture.HasAnimationThread());
    const unsigned current = picture.CurrentFrame();
    EXPECT_GE(current, 2u);
    log.Clear();
    picture.Draw();
    ASSERT_TRUE(log.WaitFor(1));
    picture.Stop();
    EXPECT_EQ(log.Indices().front(), current);
}

TEST(CPictureEx, UnloadReturnsWithinFiveSecondsWhenTheThreadHangs) {
    auto picture = std::make_unique<CPictureEx>();
    ASSERT_TRUE(Load(*picture, testgifs::Make(2, 2, {{0, 0, 2, 2, testgifs::kRed, 5}, {0, 0, 2, 2, testgifs::kBlue, 5}})));
    std::mutex mutex;
    std::condition_variable cv;
    bool entered = false, release = false;
    std::atomic<bool> left{false};
    picture->SetFrameObserver([&](unsigned) {
        std::unique_lock<std::mutex> lock(mutex);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });  // the thread does not come back until told
        left = true;
    });
    picture->Draw();
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
    }
    const auto start = Clock::now();
    picture->UnLoad();
    const long ms = Ms(Clock::now() - start);
    EXPECT_LT(ms, 6000);
    EXPECT_GE(ms, CPictureEx::kStopWaitMs - 50) << "it did wait for the thread";
    EXPECT_FALSE(picture->IsGIF());
    EXPECT_TRUE(picture->GetSize().isEmpty());
    picture.reset();  // the control goes while the old thread still runs on its own state
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    cv.notify_all();
    for (int i = 0; i < 200 && !left; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(left);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it leave its loop
}

TEST(CPictureEx, OtherVersionsAndFormatsGoWholeToTheDecoder) {
    CPictureEx picture;
    auto gif = testgifs::Make(8, 6, {{0, 0, 8, 6, testgifs::kRed}, {0, 0, 8, 6, testgifs::kBlue}});
    gif[4] = '8';  // "GIF88a": not walked, and the decoder does not know it either
    EXPECT_FALSE(Load(picture, gif));
    EXPECT_FALSE(picture.IsGIF());
    EXPECT_TRUE(picture.GetSize().isEmpty());

    QImage png(30, 20, QImage::Format_RGB32);
    png.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(png.save(&buffer, "PNG"));
    ASSERT_TRUE(picture.Load(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
    EXPECT_FALSE(picture.IsGIF());
    EXPECT_EQ(picture.GetSize(), QSize(30, 20));
    EXPECT_TRUE(picture.Draw());
    EXPECT_EQ(picture.Picture().pixelColor(10, 10), QColor(Qt::green));
}

TEST(CPictureEx, FramesThatDoNotDecodeAreLeftOut) {
    CPictureEx picture;
    ASSERT_TRUE(Load(picture, testgifs::Make(4, 4, {{0, 0, 4, 4, testgifs::kRed}, {0, 0, 0, 0, testgifs::kRed},
                                                    {0, 0, 4, 4, testgifs::kBlue}})));
    EXPECT_EQ(picture.FrameCount(), 2);
    EXPECT_FALSE(Load(picture, testgifs::Make(4, 4, {{0, 0, 0, 0, testgifs::kRed}, {0, 0, 0, 0, testgifs::kRed}})));
}

TEST(CPictureEx, LoadsFilesAndTheCompiledInAnimation) {
    CPictureEx picture;
    ASSERT_TRUE(picture.Load(QStringLiteral("155"), QStringLiteral("gif")));
    EXPECT_EQ(picture.GetSize(), QSize(98, 13));
    EXPECT_GE(picture.FrameCount(), 2);
    EXPECT_FALSE(picture.Load(QStringLiteral("999"), QStringLiteral("gif")));

    ASSERT_TRUE(picture.Load(QStringLiteral(STRIMO_INSTALL_DIR "/res/updata.gif")));
    EXPECT_EQ(picture.GetSize(), QSize(500, 370));
    EXPECT_GE(picture.FrameCount(), 2);

    testsupport::TempDir dir;
    EXPECT_FALSE(picture.Load(QString::fromStdString(dir / "missing.gif")));
    EXPECT_FALSE(picture.IsGIF());
    testsupport::WriteFile(dir / "junk.gif", "GIF89a\x01");
    EXPECT_FALSE(picture.Load(QString::fromStdString(dir / "junk.gif")));
}

TEST(CPictureEx, PaintRectChoosesThePartShown) {
    QImage halves(8, 6, QImage::Format_RGB32);
    halves.fill(Qt::red);
    for (int y = 0; y < 6; ++y)
        for (int x = 4; x < 8; ++x) halves.setPixelColor(x, y, Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(halves.save(&buffer, "PNG"));
    CPictureEx picture;
    ASSERT_TRUE(picture.Load(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
    ASSERT_TRUE(picture.Draw());
    EXPECT_TRUE(picture.GetPaintRect().isEmpty());
    EXPECT_EQ(picture.grab().toImage().pixelColor(0, 0), QColor(Qt::red)) << "empty rectangle: the whole picture";
    picture.SetPaintRect(QRect(4, 0, 4, 6));
    EXPECT_EQ(picture.grab().toImage().pixelColor(0, 0), QColor(Qt::blue)) << "the part from (4, 0) at the corner";
}
