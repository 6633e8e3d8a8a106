#include "StreamSettingsBuilder.h"

namespace {
int DownToFour(int value) { return value > 0 ? value / 4 * 4 : 0; }
}  // namespace

PictureSize ComputePictureSize(int clientWidth, int clientHeight, int sizePercent) {
    PictureSize size;
    size.sourceWidth = DownToFour(clientWidth);
    size.sourceHeight = DownToFour(clientHeight);
    // 64-bit product: a hostile percentage must not overflow.
    size.width = DownToFour(static_cast<int>(static_cast<long long>(size.sourceWidth) * sizePercent / 100));
    size.height = DownToFour(static_cast<int>(static_cast<long long>(size.sourceHeight) * sizePercent / 100));
    if (size.width <= 0 || size.height <= 0) {
        size.width = 640;
        size.height = 480;
    }
    return size;
}

bool PictureSizeUsable(const PictureSize& size) {
    const auto within = [](int side) { return side > 0 && side <= kMaxPictureSide; };
    return within(size.sourceWidth) && within(size.sourceHeight) && within(size.width) && within(size.height);
}

std::string PublishUrl(const std::string& serverAddress, const std::string& pipName) {
    std::string url = serverAddress;
    if (url.empty() || url.back() != '/') url += '/';
    return url + pipName;
}

void ApplyChosenSettings(CStreamSettings& settings, const MY_DATA_SPACE::VideoRecord& video,
                         const MY_DATA_SPACE::AudioRecord& audio, int bitRate) {
    // The timer period is 1000 / frame rate: a broken record must not stop the program.
    settings.frameRate = video.frameRate > 0 ? video.frameRate : 8;
    settings.quality = video.quality;
    settings.audioEnabled = audio.enabled;
    settings.sampleRate = 22050;
    settings.bitsPerSample = 16;
    settings.channels = 1;
    settings.bitRate = bitRate;
}

const char* LiveStopMessage(int reason) {
    switch (reason) {
        case 1: return "直播中断, 直播中不能改变窗体大小";
        case 2: return "直播中断";
        default: return "直播停止";
    }
}
