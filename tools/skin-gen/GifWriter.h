#pragma once

#include <cstdint>
#include <vector>

// Writes GIF89a files: a global palette of up to 256 colours, LZW-compressed frames, each with
// its graphic control extension (delay, disposal, transparency) and optional placement. Used by
// the skin generator for the animations and by the tests to build GIFs with known timings.
class GifWriter {
public:
    struct Options {
        int delay = 10;             // hundredths of a second
        int disposal = 0;           // 0-7
        int transparentIndex = -1;  // -1: none
        bool control = true;        // false: no graphic control extension at all
    };

    // `palette` holds 0xRRGGBB values (at most 256; padded to a power of two).
    GifWriter(int screenWidth, int screenHeight, std::vector<std::uint32_t> palette, int backgroundIndex = 0);

    // Adds an application extension asking players to loop forever.
    void AddLoop();
    // `indices` holds width * height palette indices, row by row.
    void AddFrame(const std::vector<std::uint8_t>& indices, int left, int top, int width, int height,
                  const Options& options);
    void AddFrame(const std::vector<std::uint8_t>& indices, int width, int height, const Options& options) {
        AddFrame(indices, 0, 0, width, height, options);
    }
    // The finished file (header, frames and trailer).
    std::vector<std::uint8_t> Finish() const;

    // LZW data of a frame as sub-blocks, starting with the minimum code size byte.
    static std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& indices, int minCodeSize);

private:
    void Word(int value) {
        body_.push_back(static_cast<std::uint8_t>(value & 0xFF));
        body_.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }

    int width_;
    int height_;
    std::vector<std::uint32_t> palette_;
    int tableBits_;
    int background_;
    std::vector<std::uint8_t> body_;
};
