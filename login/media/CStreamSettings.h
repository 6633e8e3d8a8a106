#pragma once

#include <optional>
#include <string>

#include "AudioInput.h"

// One broadcast's parameters, built by the main control window and read by the sender and the
// encoder (which hold a pointer to it and never free it).
struct CStreamSettings {
    int width = 0;        // encoded picture, multiples of 4
    int height = 0;
    int frameRate = 10;   // 8, 10 or 15
    int quality = 0;      // tuning level 0, 1 or 2; any other value tunes as 0
    std::string url;      // publish address: server address, "/" when missing, stream key
    // What the capture records (a source by name, an empty name the sound server's default
    // source, the microphone with the computer's sound, the game's sound); no value at all is
    // the list's "none" entry, which cannot be opened.
    std::optional<platform::AudioSourceChoice> audioDevice = platform::AudioSourceChoice();
    int audioEnabled = 1;  // 0: the captured sound is replaced by silence
    int sampleRate = 22050;
    int bitsPerSample = 16;
    int channels = 1;
    int sourceWidth = 0;   // captured rectangle, multiples of 4
    int sourceHeight = 0;
    int bitRate = 500000;  // whole stream, bits per second
    // The picture's bit rate follows what the network carries (below bitRate, never above);
    // false keeps it at bitRate whatever happens, the backlog rule alone answering a slow link.
    bool adaptiveBitRate = true;
};
