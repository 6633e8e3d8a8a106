#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

class IMemberSettings;
class QPixmap;
class QWidget;

// What the broadcaster's secondary windows (the four main-menu windows, the game dialog) ask of
// the main control window that created them. The main control window implements it; tests give
// a fake.
class IMainControl {
public:
    virtual ~IMainControl() = default;

    // The main control window itself (parent of the message boxes, re-enabled on close).
    virtual QWidget* Window() = 0;
    // The face of the four main-menu windows, "res/bg.png", loaded once by the main window.
    virtual const QPixmap& MenuFace() const = 0;

    // Main-menu windows, numbered 0 info, 1 settings, 2 help, 3 about. ShowPanel moves window
    // `index` to `screenRect` (the rectangle of the window being switched from, or an empty
    // rectangle for the window's own place), shows it, hides the others and disables the main
    // window; it does nothing while a broadcast runs.
    virtual void ShowPanel(int index, const QRect& screenRect) = 0;
    // A main-menu window closed itself: re-enable the main window and give it the focus.
    virtual void PanelClosed() = 0;

    // Selects entry `index` of the main window's audio source list without a change notification.
    virtual void SetMainSoundChoice(int index) = 0;

    // The game dialog's confirmation: the game's name as the service knows it and the
    // introduction that becomes the broadcast's title.
    virtual void GameChosen(const QString& gameName, const QString& introduction) = 0;

    // The room page: slot 5 + live id while a broadcast runs, else slot 6.
    virtual QString RoomAddress() const = 0;
    virtual bool Broadcasting() const = 0;

    // The stored data the pages show: service addresses, member, settings, version.
    virtual const IMemberSettings& Settings() const = 0;
};
