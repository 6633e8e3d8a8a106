#pragma once

#include <QEvent>

// The window messages of the broadcaster, as events posted to the user-interface thread.
inline constexpr unsigned WM_TRAY_NOTIFY = 0x1001;
inline constexpr unsigned WM_APP_QUIT = 0x1065;

inline QEvent::Type ShellEventType(unsigned message) { return static_cast<QEvent::Type>(QEvent::User + message); }

// WM_LIVE_STOP and the game window's loss carry the broadcast they belong to, so that a
// notification overtaken by a stop of the user does not end the next broadcast.
class LiveStopEvent : public QEvent {
public:
    static constexpr unsigned kGameWindowLost = 0x1005;
    LiveStopEvent(unsigned message, int reason, unsigned generation)
        : QEvent(ShellEventType(message)), reason_(reason), generation_(generation) {}
    int Reason() const { return reason_; }
    unsigned Generation() const { return generation_; }

private:
    int reason_;
    unsigned generation_;
};
