#pragma once

#include <QDialog>
#include <QElapsedTimer>

class CPictureEx;

// The updater's splash window: plays "res/updata.gif" and closes itself at the first half-second
// check after five seconds. Not draggable; Escape, Return and Alt+F4 close nothing.
class CDlgAnimation : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPictureId = 1005;
    static constexpr int kTimerId = 1025;
    static constexpr int kDurationMs = 5000;
    static constexpr int kCheckMs = 500;

    explicit CDlgAnimation(QWidget* parent = nullptr);
    ~CDlgAnimation() override;
    CPictureEx* Picture() const { return picture_; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CPictureEx* picture_;
    QElapsedTimer started_;
    int timer_ = 0;
    bool finishing_ = false;
};
