#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Walks the block structure of a GIF held in memory and cuts an animation into stand-alone
// one-frame GIFs, without decoding any picture data. Every read is checked against the length
// it was given: a truncated or hostile file ends the walk early, it is never read past its end.
// No Qt here, so the walker can be fuzzed cheaply on its own.
class GifBlockWalker {
public:
    // A file with more frames than this plays only its first kMaxFrames frames: a few bytes per
    // empty frame would otherwise cost a decoder call and a picture each.
    static constexpr std::size_t kMaxFrames = 4096;

    struct Rgb {
        std::uint8_t red = 255, green = 255, blue = 255;
    };

    struct Frame {
        static constexpr std::size_t kNoExtension = static_cast<std::size_t>(-1);
        std::size_t controlOffset = kNoExtension;  // graphic control extension, if any
        std::size_t controlEnd = kNoExtension;
        std::size_t descriptorOffset = 0;          // image descriptor ','
        std::size_t dataEnd = 0;                   // one past the image data's terminator
        int left = 0, top = 0, width = 0, height = 0;
        int delay = -1;     // hundredths of a second; -1 without a graphic control extension
        int disposal = 0;   // 0-7 as stored
    };

    // Walks `data` (not copied: it must outlive the walker's use of BuildFrameGif). Answers
    // whether the data begin with the signature "GIF" and the version "87a" or "89a"; anything
    // else is not ours to walk and goes whole to the picture decoder.
    bool Walk(const std::uint8_t* data, std::size_t size);

    bool IsGif() const { return isGif_; }
    int ScreenWidth() const { return screenWidth_; }
    int ScreenHeight() const { return screenHeight_; }
    // The global colour table's background entry; white when there is none.
    Rgb Background() const { return background_; }
    std::size_t GlobalTableSize() const { return tableSize_; }
    const std::vector<Frame>& Frames() const { return frames_; }

    // A stand-alone GIF holding frame `index` alone: the source's header and global colour
    // table, the frame's graphic control extension, image descriptor and data, and a trailer.
    // The header's screen is the frame's own size and the descriptor is moved to (0, 0), so a
    // decoder yields exactly the frame's pixels; placing them at (left, top) is the caller's.
    std::vector<std::uint8_t> BuildFrameGif(std::size_t index) const;

private:
    static constexpr std::size_t kBadEnd = static_cast<std::size_t>(-1);
    std::size_t SkipSubBlocks(std::size_t pos) const;
    int Word(std::size_t pos) const { return data_[pos] | (data_[pos + 1] << 8); }
    void Reset();

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool isGif_ = false;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    Rgb background_;
    std::size_t tableSize_ = 0;
    std::vector<Frame> frames_;
};
