#include "ArrowCursor.h"

const char* const ArrowCursor::kShape[kHeight] = {
    "X           ",
    "XX          ",
    "X.X         ",
    "X..X        ",
    "X...X       ",
    "X....X      ",
    "X.....X     ",
    "X......X    ",
    "X.......X   ",
    "X........X  ",
    "X.........X ",
    "X......XXXXX",
    "X...X..X    ",
    "X..XX..X    ",
    "X.X  X..X   ",
    "XX   X..X   ",
    "X     X..X  ",
    "      X..X  ",
    "       XX   ",
};

void ArrowCursor::Draw(unsigned char* pixels, int width, int rows, int stride, int x, int y) {
    const int left = x - kHotX;
    const int top = y - kHotY;
    for (int r = 0; r < kHeight; ++r) {
        const int py = top + r;
        if (py < 0 || py >= rows) continue;
        for (int c = 0; c < kWidth; ++c) {
            const int px = left + c;
            const char shape = kShape[r][c];
            if (px < 0 || px >= width || shape == ' ' || px * 4 + 4 > stride) continue;
            const unsigned char value = shape == 'X' ? 0 : 255;
            unsigned char* p = pixels + static_cast<long>(py) * stride + px * 4;
            p[0] = p[1] = p[2] = value;
        }
    }
}
