#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

// A picture control: shows a picture from a file, a compiled-in resource or memory, and plays
// an animated GIF on a thread of its own. Our GifBlockWalker cuts an animation into one-frame
// GIFs and times them; Qt's image reader decodes a single-frame GIF or any other picture.
//
// The animation thread draws into the off-screen picture and asks the control to repaint; the
// user-interface thread copies that picture to the screen. Stopping waits for the thread at
// most 5000 ms; a thread that does not end by then is left to finish on its own, on state it
// shares and that outlives the control.
class CPictureEx : public QWidget {
    Q_OBJECT
public:
    static constexpr int kStopWaitMs = 5000;
    // Larger logical screens or frame totals are refused or cut, so a hostile header cannot
    // make us allocate gigabytes.
    static constexpr long long kMaxScreenPixels = 16LL * 1024 * 1024;
    static constexpr long long kMaxFramePixels = 64LL * 1024 * 1024;

    explicit CPictureEx(QWidget* parent = nullptr);
    ~CPictureEx() override;

    // Reads the whole file and loads it from memory; false for an unreadable file.
    bool Load(const QString& path);
    // A compiled-in picture, e.g. Load("155", "gif") for ":/gif/155".
    bool Load(const QString& resourceName, const QString& resourceType);
    // Unloads, then parses and prepares. False, with the control empty, for data that hold no
    // decodable picture.
    bool Load(const std::uint8_t* bytes, std::size_t length);

    // Starts showing: an animation starts its thread (answer false); a single picture is drawn
    // once into the off-screen picture (answer true).
    bool Draw();
    void Stop();
    void UnLoad();

    QSize GetSize() const { return size_; }
    bool IsGIF() const { return isGif_; }
    bool IsPlaying() const;
    QColor GetBkColor() const;
    void SetBkColor(const QColor& colour);
    void SetPaintRect(const QRect& rect) { paintRect_ = rect; }
    QRect GetPaintRect() const { return paintRect_; }

    int FrameCount() const;
    unsigned CurrentFrame() const;
    // The frame's delay in hundredths (-1: no graphic control extension) and its disposal.
    int FrameDelay(int index) const;
    int FrameDisposal(int index) const;
    bool HasAnimationThread() const { return run_ != nullptr; }
    // A copy of the off-screen picture as it stands.
    QImage Picture() const;

    // How long a frame stays: delay x 10 ms, or 100 ms for delays of 0 to 4 and for frames
    // without a graphic control extension (-1).
    static int FrameWaitMs(int delay);

    // Called on the animation thread after each frame is drawn, with its index.
    void SetFrameObserver(std::function<void(unsigned)> observer);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Frame {
        QImage picture;
        QRect rect;  // left, top, width, height from the image descriptor
        int delay = -1;
        int disposal = 0;
    };
    // Everything the animation thread touches, shared with it.
    struct Shared {
        mutable std::mutex mutex;  // guards picture, saved, background, owner
        QImage picture;            // the off-screen picture that is shown
        QImage saved;              // the area under a frame of disposal 3
        QRect savedRect;
        QColor background = Qt::white;
        QWidget* owner = nullptr;  // repainted after each frame; cleared when the control lets go
        std::vector<Frame> frames;
        std::atomic<unsigned> current{0};
        std::atomic<bool> playing{false};
        std::function<void(unsigned)> observer;
    };
    // One run of the animation thread: its exit flag and event.
    struct Run {
        std::mutex mutex;
        std::condition_variable wake;
        bool exit = false;
        bool finished = false;
        std::thread thread;
    };

    static void Animate(std::shared_ptr<Shared> shared, std::shared_ptr<Run> run);
    static void ApplyDisposal(Shared& shared, const Frame& frame);
    bool Prepare(int width, int height);
    void ReleaseShared();

    QSize size_;
    bool isGif_ = false;
    bool prepared_ = false;
    QRect paintRect_;
    QImage single_;
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<Run> run_;
    std::function<void(unsigned)> observer_;
};
