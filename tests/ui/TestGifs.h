#pragma once

#include <cstdint>
#include <vector>

#include "GifWriter.h"

namespace testgifs {

// Palette entries used by the test pictures.
enum Colour : std::uint8_t { kWhite = 0, kRed = 1, kGreen = 2, kBlue = 3 };
inline std::vector<std::uint32_t> Palette() { return {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF}; }

struct FrameSpec {
    int left, top, width, height;
    Colour colour;
    int delay = 10;
    int disposal = 1;
    bool control = true;
};

// A GIF whose frames are solid rectangles; background index 2 (green) unless told.
inline std::vector<std::uint8_t> Make(int width, int height, const std::vector<FrameSpec>& frames, int background = 2) {
    GifWriter gif(width, height, Palette(), background);
    for (const FrameSpec& f : frames) {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height), f.colour);
        gif.AddFrame(pixels, f.left, f.top, f.width, f.height, {f.delay, f.disposal, -1, f.control});
    }
    return gif.Finish();
}

}  // namespace testgifs
