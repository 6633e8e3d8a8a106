#pragma once

#include <string>

namespace platform {

// A native top-level window (an X11 window id); 0 is none.
using WindowId = unsigned long;

// How the 32 bits of a captured pixel lie in memory.
enum class PixelLayout {
    Bgrx,  // blue, green, red, unused: the X server's own pixels, PipeWire's BGRx and BGRA
    Rgbx,  // red, green, blue, unused: PipeWire's RGBx and RGBA
};

// A captured picture: 32-bit pixels, top-down, rows `stride` bytes apart. It belongs to the
// capture that made it and stays valid until that capture's next Capture call. The caller may
// draw into it (the arrow).
struct Picture {
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelLayout layout = PixelLayout::Bgrx;
};

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The game the member chose: its X11 window on this display where it has one, else only its
// process (a native Wayland client, reached through the desktop's ScreenCast portal).
struct GameSource {
    WindowId window = 0;
    long pid = 0;
    // The portal's answer from the last time this game was shared: with it the portal shares
    // the same window again without asking the member.
    std::string restoreToken;
};

// Reads the picture of one game for the capture sender. One backend per desktop technology,
// chosen by OpenGameCapture (GameCaptureFactory.h); the sender does not know which one it
// drives. Look, Capture and PointerAt are called from one thread at a time (the sender's
// timer); BringToFront from the thread that made the capture.
class IGameCapture {
public:
    enum class State {
        Shown,      // the game shows a picture of PictureSize
        Minimised,  // the game is minimised: there is nothing new to see
        Gone,       // the window was closed (or the desktop ended the sharing): for good
    };
    enum class Result {
        Fresh,      // `picture` holds a new picture
        Unchanged,  // nothing new since the last picture, which is still valid and still current
        Failed,     // nothing was captured this time; the last picture is no longer valid either
    };

    virtual ~IGameCapture() = default;

    // Where the game stands now; `size` is set when it is Shown.
    virtual State Look(PictureSize* size) = 0;
    // Captures the top left `width` × `rows` pixels of the game's picture (the size Look gave).
    // `picture` is set only for Fresh.
    virtual Result Capture(int width, int rows, Picture* picture) = 0;
    // Where the pointer is, relative to the top left of the last picture, when it is over the
    // game and the arrow is the caller's to draw. False when the backend has drawn it already,
    // hides it, or the pointer is elsewhere.
    virtual bool PointerAt(int* x, int* y) = 0;
    // Raises the game and asks the desktop to give it the focus (where the desktop lets a
    // program do that).
    virtual void BringToFront() = 0;
    // What the desktop needs to share this game again without asking the member; empty when
    // it has nothing to keep.
    virtual std::string RestoreToken() const { return {}; }
};

}  // namespace platform
