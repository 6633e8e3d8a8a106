#pragma once

namespace MY_DATA_SPACE {

// The member's picture settings as the configuration keeps them.
struct VideoRecord {
    int frameRateNum = 1;
    int frameRate = 0;  // frames per second
    int quality = 0;    // 0..2
    int deviceIndex = 0;
    int sizePercent = 0;  // 50, 75 or 100
    bool operator==(const VideoRecord&) const = default;
};

}  // namespace MY_DATA_SPACE
