#pragma once

namespace MY_DATA_SPACE {

// The member's sound settings as the configuration keeps them.
struct AudioRecord {
    int sampleRate = 0;
    int channels = 1;
    int dataRate = 0;
    int deviceIndex = 0;  // index in the audio source list; 0 = no sound
    int enabled = 0;      // 1 when sound is broadcast
    bool operator==(const AudioRecord&) const = default;
};

}  // namespace MY_DATA_SPACE
