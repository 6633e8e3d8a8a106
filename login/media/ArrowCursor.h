#pragma once

// The standard arrow pointer: black outline, white inside, hot spot at its tip.
struct ArrowCursor {
    static constexpr int kWidth = 12;
    static constexpr int kHeight = 19;
    static constexpr int kHotX = 0;
    static constexpr int kHotY = 0;
    // Row by row: 'X' black, '.' white, ' ' transparent.
    static const char* const kShape[kHeight];

    // Draws the arrow into rows of 32-bit pixels `stride` bytes apart, with its hot spot at
    // (x, y), clipped to the picture. Black and white read the same in every channel order.
    static void Draw(unsigned char* pixels, int width, int rows, int stride, int x, int y);
};
