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

// The publish address: server address, "/" unless it already ends with one, stream key.
std::string PublishUrl(const std::string& serverAddress, const std::string& pipName);

// Fills the parts of `settings` that come from the member's choice: frame rate and quality from
// the video record, sound on/off from the audio record, the fixed sound format, the bit rate.
void ApplyChosenSettings(CStreamSettings& settings, const MY_DATA_SPACE::VideoRecord& video,
                         const MY_DATA_SPACE::AudioRecord& audio, int bitRate);

// The words shown when a broadcast ends: 1 resized, 2 connection lost, anything else stopped.
const char* LiveStopMessage(int reason);
