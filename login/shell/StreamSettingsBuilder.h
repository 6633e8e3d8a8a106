#pragma once

#include <string>

#include "CData.h"
#include "CStreamSettings.h"

// The sizes of one broadcast's picture: the captured part of the game window's client area and
// the encoded picture, both in multiples of 4 (the encoder's scaler and x264 want even sizes,
// and capture rows stay 4-byte aligned).
struct PictureSize {
    int sourceWidth = 0;
    int sourceHeight = 0;
    int width = 0;
    int height = 0;
};

// Client area `clientWidth` × `clientHeight` scaled to `sizePercent`. A scaled size that
// rounds down to 0 in either direction gives 640 × 480.
PictureSize ComputePictureSize(int clientWidth, int clientHeight, int sizePercent);

// The longest side, in pixels, that the H.264 encoder takes.
inline constexpr int kMaxPictureSide = 16384;

// False when no broadcast can be set up at these sizes: a capture area under 4 pixels in either
// direction (nothing left at multiples of 4), or a side longer than the encoder takes. The
// encoder ends the process when its set-up fails, so this is checked before it is opened.
bool PictureSizeUsable(const PictureSize& size);

// The publish address: server address, "/" unless it already ends with one, stream key.
std::string PublishUrl(const std::string& serverAddress, const std::string& pipName);

// Fills the parts of `settings` that come from the member's choice: frame rate and quality from
// the video record, sound on/off from the audio record, the fixed sound format, the bit rate.
void ApplyChosenSettings(CStreamSettings& settings, const MY_DATA_SPACE::VideoRecord& video,
                         const MY_DATA_SPACE::AudioRecord& audio, int bitRate);

// The words shown when a broadcast ends: 1 resized, 2 connection lost, anything else stopped.
const char* LiveStopMessage(int reason);
