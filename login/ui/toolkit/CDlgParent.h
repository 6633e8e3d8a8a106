#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

class QRubberBand;

// Base of every skinned window: a frameless, fixed-size dialog whose face is a picture, dragged
// by its face only. Skinned windows close through their own buttons alone: Alt+F4 and the
// window manager's close request are refused, F1 does nothing.
//
// A drag is handed to the desktop (QWindow::startSystemMove) wherever it takes one: always on
// Wayland, where a client can neither read the global pointer nor place its windows, and on X11
// under every window manager that supports _NET_WM_MOVERESIZE. The desktop then moves the window
// its own way. Only where it takes none (no window manager) does the window follow the pointer
// itself, with full contents or an outline as the drag setting says.
class CDlgParent : public QDialog {
    Q_OBJECT
public:
    explicit CDlgParent(int templateId, QWidget* parent = nullptr);
    ~CDlgParent() override;

    int TemplateId() const { return templateId_; }

    // The initial dialog step of every skinned window: fixed size at (0, 0), then centred on
    // the screen, where the program places its windows (see ProgramPlacesWindows).
    void SetFixedSizeCentred(int width, int height);

    // False where the desktop alone places windows (Qt on Wayland): a position set there is
    // never honoured and a window's position reads as (0, 0), so nothing is moved or placed.
    static bool ProgramPlacesWindows();

    // Whether a drag the program carries out itself (no desktop move) moves the window with the
    // pointer (the default) or draws an outline and moves the window once at button-up. A
    // desktop move follows the desktop's own setting instead. Shared by all skinned windows of
    // the process.
    static void SetDragFullWindows(bool on);
    static bool DragFullWindows();

    // The face: a file read at every paint, or a picture that another window loads once and
    // keeps (it must outlive this window). Neither: the face stays unpainted (black).
    void SetFacePath(const QString& path);
    void SetSharedFace(const QImage* face);

    // Whether the program carries out a drag itself (a desktop move is not tracked).
    bool IsDragging() const { return dragging_ != 0; }
    bool IsOutlineShown() const { return outlineErased_ == 0; }
    QRect OutlineRect() const { return lastOutline_; }

    // The skinned face paint shared by windows and pages: one off-screen image of the client
    // size, the face at (0, 0) in its own size (blended when it has alpha, else copied), then
    // `drawItems` (text panels, radio boxes, links), then one copy to the screen.
    static void PaintFace(QWidget& target, const QImage* face, const std::function<void(QPainter&)>& drawItems);

protected:
    // Sees every event addressed to this dialog or to one of its controls before its target
    // does; answering true swallows it. The base drags the window by its face and swallows
    // Alt+F4 and F1.
    virtual bool PreTranslateMessage(QObject* target, QEvent* event);
    // The routine shared by the message boxes and the main-menu windows, run before the base's:
    // repaint after a left button up on the face, swallow Escape and Return.
    bool PreTranslateSkinnedWindow(QObject* target, QEvent* event);
    // The lighter routine of the main control window and the updater's windows, run before the
    // base's: swallow the key presses of Escape, Return and Enter; their shortcut requests pass
    // and a click on the face does not repaint.
    bool PreTranslateKeyPresses(QObject* target, QEvent* event);
    // Draws the window's own items over the face, into the off-screen image.
    virtual void DrawOnFace(QPainter& painter);

    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool StartDesktopMove();
    void DragMove(const QPoint& cursor);
    void DragEnd(const QPoint& cursor);

    int templateId_;
    int dragging_ = 0;
    QRect dragStartWindow_;
    QPoint dragStartCursor_;
    QRect lastOutline_;
    int outlineErased_ = 1;
    std::unique_ptr<QRubberBand> tracker_;
    QString facePath_;
    const QImage* sharedFace_ = nullptr;
};
