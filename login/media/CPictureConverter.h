#pragma once

#include <memory>

struct AVFrame;
struct SwsContext;

// Turns a captured picture into the encoder's YUV 4:2:0 picture (BT.601, limited range).
// The colours are converted at the capture size, straight from the caller's rows into the
// destination when the two sizes are equal; otherwise into a picture of its own at the capture
// size, which is then scaled YUV to YUV. Everything it needs is made by Configure: a
// conversion allocates nothing. One thread at a time.
class CPictureConverter {
public:
    // How the pixels of a source picture are laid out in memory.
    enum class Layout {
        Bgr24,   // packed blue, green, red
        Bgrx32,  // 32-bit: blue, green, red, unused (the X server's own pixels, PipeWire's BGRx)
        Yuv420,  // three planes, YUV 4:2:0
        Rgbx32,  // 32-bit: red, green, blue, unused (PipeWire's RGBx)
    };

    // The YUV to YUV scaler used when the sizes differ.
    enum class Scaling {
        SwsBilinear,        // swscale, the filter of the earlier one-step converter
        SwsBicubic,         // swscale
        SwsBicubicThreads,  // swscale in slices on two threads (sws_scale_frame)
        LibyuvBox,          // libyuv's area average
        LibyuvBilinear,     // libyuv
    };
    // Chosen by measurement (bench/media_bench's conversion table and the converter's test):
    // against a Lanczos reference it is 8-11 dB sharper in luma than the earlier one-step
    // bilinear converter, at that converter's CPU for 1280x720 to 640x480. libyuv's scalers
    // cost less but fall below the earlier converter on fine detail (they filter reductions
    // by less than half bilinearly, with two taps); slices on threads save no CPU.
    static constexpr Scaling kDefaultScaling = Scaling::SwsBicubic;

    CPictureConverter();
    ~CPictureConverter();
    CPictureConverter(const CPictureConverter&) = delete;
    CPictureConverter& operator=(const CPictureConverter&) = delete;

    // Pictures of sourceWidth × sourceHeight to width × height. False (and nothing configured)
    // for sizes below 1 or when the scaler cannot be made.
    bool Configure(int sourceWidth, int sourceHeight, int width, int height, Scaling scaling = kDefaultScaling);
    void Reset();
    bool Configured() const { return sourceWidth_ > 0; }

    // Converts one source picture of the configured source size: `planes` and `strides` give
    // its rows (the first plane only, except for Yuv420). `destination` is a writable YUV420P
    // frame of the configured size. False when nothing was written.
    bool Convert(Layout layout, const unsigned char* const planes[3], const int strides[3], AVFrame* destination);

    // The smallest row length in bytes of a source picture in `layout` (the Y plane's for Yuv420).
    int MinimumStride(Layout layout) const;

private:
    bool ToYuv(Layout layout, const unsigned char* const planes[3], const int strides[3], unsigned char* const dst[3],
               const int dstStrides[3]) const;
    bool Scale(const unsigned char* const planes[3], const int strides[3], AVFrame* destination);

    struct Free {
        void operator()(AVFrame* p) const;
        void operator()(SwsContext* p) const;
    };
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    Scaling scaling_ = kDefaultScaling;
    std::unique_ptr<AVFrame, Free> sourceYuv_;  // the picture at capture size, when scaling
    std::unique_ptr<SwsContext, Free> scaler_;
};
