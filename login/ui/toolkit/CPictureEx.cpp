#include "CPictureEx.h"

#include <limits>

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPalette>

#include "GifBlockWalker.h"
#include "SkinResources.h"

namespace {

QImage Decode(const std::uint8_t* data, std::size_t length, const char* format = nullptr) {
    if (length > static_cast<std::size_t>(std::numeric_limits<int>::max())) return QImage();
    return QImage::fromData(data, static_cast<int>(length), format);
}

}  // namespace

CPictureEx::CPictureEx(QWidget* parent) : QWidget(parent), shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CPictureEx::~CPictureEx() {
    UnLoad();
    ReleaseShared();
}

void CPictureEx::ReleaseShared() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->owner = nullptr;
}

bool CPictureEx::Load(const QString& path) {
    UnLoad();  // a failed load leaves the control empty, whatever it showed before
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return false;
    return Load(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

bool CPictureEx::Load(const QString& resourceName, const QString& resourceType) {
    SkinResources::Init();
    return Load(QStringLiteral(":/%1/%2").arg(resourceType, resourceName));
}

bool CPictureEx::Load(const std::uint8_t* bytes, std::size_t length) {
    UnLoad();
    GifBlockWalker walker;
    if (walker.Walk(bytes, length)) {
        isGif_ = true;
        const auto bg = walker.Background();
        shared_->background = QColor(bg.red, bg.green, bg.blue);
        const auto& frames = walker.Frames();
        const long long screen = static_cast<long long>(walker.ScreenWidth()) * walker.ScreenHeight();
        if (frames.empty() || screen > kMaxScreenPixels) {
            UnLoad();
            return false;
        }
        if (frames.size() == 1) {
            single_ = Decode(bytes, length);
            if (single_.isNull()) {
                UnLoad();
                return false;
            }
            return Prepare(walker.ScreenWidth(), walker.ScreenHeight());
        }
        long long decodedPixels = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto& f = frames[i];
            decodedPixels += static_cast<long long>(f.width) * f.height;
            if (decodedPixels > kMaxFramePixels) break;  // the rest are left out
            const std::vector<std::uint8_t> gif = walker.BuildFrameGif(i);
            QImage picture = Decode(gif.data(), gif.size(), "GIF");
            if (picture.isNull()) continue;  // a frame that does not decode is left out
            Frame frame;
            frame.picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            frame.rect = QRect(f.left, f.top, f.width, f.height);
            frame.delay = f.delay;
            frame.disposal = f.disposal;
            shared_->frames.push_back(std::move(frame));
        }
        if (shared_->frames.empty()) {
            UnLoad();
            return false;
        }
        return Prepare(walker.ScreenWidth(), walker.ScreenHeight());
    }
    single_ = Decode(bytes, length);
    if (single_.isNull() || static_cast<long long>(single_.width()) * single_.height() > kMaxScreenPixels) {
        UnLoad();
        return false;
    }
    return Prepare(single_.width(), single_.height());
}

bool CPictureEx::Prepare(int width, int height) {
    size_ = QSize(width, height);
    resize(size_);
    const QPalette palette = QApplication::palette();
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->picture = QImage(size_, QImage::Format_ARGB32_Premultiplied);
        shared_->picture.fill(palette.color(QPalette::Window));
        shared_->background = palette.color(QPalette::Button);
    }
    prepared_ = true;
    return true;
}

bool CPictureEx::Draw() {
    if (!prepared_) return false;
    if (shared_->frames.size() > 1) {
        if (run_) return false;  // already playing: one thread per control
        auto run = std::make_shared<Run>();
        shared_->observer = observer_;
        run->thread = std::thread(&CPictureEx::Animate, shared_, run);
        run_ = std::move(run);
        return false;
    }
    if (single_.isNull()) return false;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        QPainter painter(&shared_->picture);
        painter.drawImage(QRect(QPoint(0, 0), size_), single_);
    }
    update();
    return true;
}

int CPictureEx::FrameWaitMs(int delay) {
    return delay > 4 ? delay * 10 : 100;
}

void CPictureEx::ApplyDisposal(Shared& shared, const Frame& frame) {
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (frame.disposal == 2) {
        QPainter painter(&shared.picture);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(frame.rect, shared.background);  // clipped to the picture by the painter
    } else if (frame.disposal == 3 && !shared.saved.isNull()) {
        QPainter painter(&shared.picture);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(shared.savedRect.topLeft(), shared.saved);
        shared.saved = QImage();
    }
}

void CPictureEx::Animate(std::shared_ptr<Shared> shared, std::shared_ptr<Run> run) {
    shared->playing = true;
    auto exiting = [&run] {
        std::lock_guard<std::mutex> lock(run->mutex);
        return run->exit;
    };
    const std::size_t count = shared->frames.size();
    if (shared->current >= count) shared->current = 0;
    ApplyDisposal(*shared, shared->frames[shared->current]);
    while (!exiting()) {
        const unsigned index = shared->current;
        const Frame& frame = shared->frames[index];
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (frame.disposal == 3) {
                // Only the part inside the picture is kept: a frame may reach past the screen.
                shared->savedRect = frame.rect.intersected(shared->picture.rect());
                shared->saved = shared->picture.copy(shared->savedRect);
            }
            QPainter painter(&shared->picture);
            painter.drawImage(frame.rect, frame.picture);  // clipped to the off-screen picture
            painter.end();
            if (shared->owner) QMetaObject::invokeMethod(shared->owner, "update", Qt::QueuedConnection);
        }
        if (shared->observer) shared->observer(index);
        if (exiting()) break;
        {
            std::unique_lock<std::mutex> lock(run->mutex);
            run->wake.wait_for(lock, std::chrono::milliseconds(FrameWaitMs(frame.delay)), [&run] { return run->exit; });
            if (run->exit) break;
        }
        ApplyDisposal(*shared, frame);
        unsigned next = index + 1;
        if (next >= count) {
            next = 0;
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->picture.fill(shared->background);
        }
        shared->current = next;
    }
    shared->playing = false;
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        run->finished = true;
    }
    run->wake.notify_all();
}

void CPictureEx::Stop() {
    shared_->playing = false;
    if (!run_) return;
    {
        std::unique_lock<std::mutex> lock(run_->mutex);
        run_->exit = true;
        run_->wake.notify_all();
        run_->wake.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return run_->finished; });
    }
    if (run_->finished) {
        run_->thread.join();
        run_.reset();
        return;
    }
    // The thread ends on its own later, on the state it holds. The control goes on with a copy
    // of that state, so a new draw never shares it with the old thread.
    run_->thread.detach();
    run_.reset();
    auto fresh = std::make_shared<Shared>();
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        fresh->picture = shared_->picture.copy();
        fresh->background = shared_->background;
        shared_->owner = nullptr;
    }
    fresh->frames = shared_->frames;
    fresh->current = shared_->current.load();
    fresh->owner = this;
    shared_ = std::move(fresh);
}

void CPictureEx::UnLoad() {
    Stop();
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->picture = QImage();
        shared_->saved = QImage();
        shared_->savedRect = QRect();
        shared_->background = Qt::white;
    }
    shared_->frames.clear();
    shared_->current = 0;
    shared_->playing = false;
    single_ = QImage();
    size_ = QSize();
    isGif_ = false;
    prepared_ = false;
    paintRect_ = QRect();
}

bool CPictureEx::IsPlaying() const {
    return shared_->playing;
}

QColor CPictureEx::GetBkColor() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->background;
}

void CPictureEx::SetBkColor(const QColor& colour) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->background = colour;
}

int CPictureEx::FrameCount() const {
    return static_cast<int>(shared_->frames.size());
}

unsigned CPictureEx::CurrentFrame() const {
    return shared_->current;
}

int CPictureEx::FrameDelay(int index) const {
    return index >= 0 && index < FrameCount() ? shared_->frames[static_cast<std::size_t>(index)].delay : -1;
}

int CPictureEx::FrameDisposal(int index) const {
    return index >= 0 && index < FrameCount() ? shared_->frames[static_cast<std::size_t>(index)].disposal : 0;
}

QImage CPictureEx::Picture() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->picture.copy();
}

void CPictureEx::SetFrameObserver(std::function<void(unsigned)> observer) {
    observer_ = std::move(observer);
}

void CPictureEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->picture.isNull()) return;
    if (paintRect_.isEmpty())
        painter.drawImage(0, 0, shared_->picture);
    else
        painter.drawImage(QPoint(0, 0), shared_->picture, paintRect_);
}
