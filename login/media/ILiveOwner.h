#pragma once

// The end-of-broadcast message of the main control window.
inline constexpr unsigned WM_LIVE_STOP = 0x1004;

// Reasons carried by WM_LIVE_STOP.
enum LiveStopReason : int {
    kLiveStopUser = 0,        // stopped by the user (or the game window was lost)
    kLiveStopResized = 1,     // the game window changed size while visible
    kLiveStopConnection = 2,  // the stream broke and one reopening failed
};

// What the sender tells its owner. Both calls come from the sender's timer thread; the owner
// must carry them out on its own thread (a window posts them to itself), because carrying them
// out destroys the sender. The sender does not touch itself after either call.
class ILiveOwner {
public:
    virtual ~ILiveOwner() = default;
    // WM_LIVE_STOP with the reason.
    virtual void PostLiveStop(int reason) = 0;
    // The game window is gone: end the broadcast as after the user's stop.
    virtual void PostGameWindowLost() = 0;
};
