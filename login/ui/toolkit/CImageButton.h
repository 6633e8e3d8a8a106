#pragma once

#include <vector>

#include <QAbstractButton>
#include <QImage>
#include <QRect>

// A push button drawn from one to three pictures of equal size: normal, hover, disabled.
// A two-picture button lights up under the mouse; a three-picture button whose second and
// third pictures are the same "select" picture stays lit while disabled. The button takes the
// first picture's size at every paint, keeping its position.
class CImageButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CImageButton(QWidget* parent = nullptr);

    // Drops the pictures loaded before, then loads the first file and, where given, the second
    // and third. A second or third file that fails to load is skipped; when the first fails,
    // nothing is loaded and the button paints as a plain pushed frame.
    void LoadPictures(const QString& first, const QString& second = QString(), const QString& third = QString());

    // The picture shown for `count` pictures, visual state (0 normal, 1 hover) and enabled state.
    static int PictureIndex(int count, int state, bool disabled);

    bool IsLoaded() const { return loaded_ != 0; }
    int PictureCount() const { return static_cast<int>(pictures_.size()); }
    QSize PictureSize() const { return pictureRect_.size(); }
    int VisualState() const { return state_; }
    bool IsTracking() const { return tracking_ != 0; }
    // The picture index the next paint will draw (-1 when nothing is loaded).
    int CurrentIndex() const { return loaded_ ? PictureIndex(PictureCount(), state_, !isEnabled()) : -1; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::vector<QImage> pictures_;
    int loaded_ = 0;
    QRect pictureRect_;
    int tracking_ = 0;
    int state_ = 0;
};
