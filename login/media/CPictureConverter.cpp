#include "CPictureConverter.h"

#include <libyuv/convert.h>
#include <libyuv/scale.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

void CPictureConverter::Free::operator()(AVFrame* p) const { av_frame_free(&p); }
void CPictureConverter::Free::operator()(SwsContext* p) const { sws_freeContext(p); }

CPictureConverter::CPictureConverter() = default;
CPictureConverter::~CPictureConverter() = default;

void CPictureConverter::Reset() {
    sourceWidth_ = sourceHeight_ = width_ = height_ = 0;
    sourceYuv_.reset();
    scaler_.reset();
}

bool CPictureConverter::Configure(int sourceWidth, int sourceHeight, int width, int height, Scaling scaling) {
    Reset();
    if (sourceWidth < 1 || sourceHeight < 1 || width < 1 || height < 1) return false;
    if (sourceWidth != width || sourceHeight != height) {
        sourceYuv_.reset(av_frame_alloc());
        if (!sourceYuv_) return false;
        sourceYuv_->format = AV_PIX_FMT_YUV420P;
        sourceYuv_->width = sourceWidth;
        sourceYuv_->height = sourceHeight;
        if (av_frame_get_buffer(sourceYuv_.get(), 0) < 0) return false;
        if (scaling == Scaling::SwsBilinear || scaling == Scaling::SwsBicubic || scaling == Scaling::SwsBicubicThreads) {
            SwsContext* c = sws_alloc_context();
            scaler_.reset(c);
            const int flags = scaling == Scaling::SwsBilinear ? SWS_BILINEAR : SWS_BICUBIC;
            if (c == nullptr || av_opt_set_int(c, "srcw", sourceWidth, 0) < 0 ||
                av_opt_set_int(c, "srch", sourceHeight, 0) < 0 ||
                av_opt_set_int(c, "src_format", AV_PIX_FMT_YUV420P, 0) < 0 ||
                av_opt_set_int(c, "dstw", width, 0) < 0 || av_opt_set_int(c, "dsth", height, 0) < 0 ||
                av_opt_set_int(c, "dst_format", AV_PIX_FMT_YUV420P, 0) < 0 ||
                av_opt_set_int(c, "sws_flags", flags, 0) < 0 ||
                av_opt_set_int(c, "threads", scaling == Scaling::SwsBicubicThreads ? 2 : 1, 0) < 0 ||
                sws_init_context(c, nullptr, nullptr) < 0) {
                Reset();
                return false;
            }
        }
    }
    sourceWidth_ = sourceWidth;
    sourceHeight_ = sourceHeight;
    width_ = width;
    height_ = height;
    scaling_ = scaling;
    return true;
}

int CPictureConverter::MinimumStride(Layout layout) const {
    switch (layout) {
        case Layout::Bgr24: return sourceWidth_ * 3;
        case Layout::Bgrx32:
        case Layout::Rgbx32: return sourceWidth_ * 4;
        case Layout::Yuv420: return sourceWidth_;
    }
    return sourceWidth_ * 4;
}

bool CPictureConverter::ToYuv(Layout layout, const unsigned char* const planes[3], const int strides[3],
                              unsigned char* const dst[3], const int dstStrides[3]) const {
    const int w = sourceWidth_, h = sourceHeight_;
    // libyuv names packed pixels by their order in a little-endian word: its "ARGB" is blue,
    // green, red, alpha in memory, "ABGR" red, green, blue, alpha, and "RGB24" blue, green, red.
    switch (layout) {
        case Layout::Bgrx32:
            return libyuv::ARGBToI420(planes[0], strides[0], dst[0], dstStrides[0], dst[1], dstStrides[1], dst[2],
                                      dstStrides[2], w, h) == 0;
        case Layout::Rgbx32:
            return libyuv::ABGRToI420(planes[0], strides[0], dst[0], dstStrides[0], dst[1], dstStrides[1], dst[2],
                                      dstStrides[2], w, h) == 0;
        case Layout::Bgr24:
            return libyuv::RGB24ToI420(planes[0], strides[0], dst[0], dstStrides[0], dst[1], dstStrides[1], dst[2],
                                       dstStrides[2], w, h) == 0;
        case Layout::Yuv420:
            if (planes[1] == nullptr || planes[2] == nullptr) return false;
            return libyuv::I420Copy(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], dst[0],
                                    dstStrides[0], dst[1], dstStrides[1], dst[2], dstStrides[2], w, h) == 0;
    }
    return false;
}

bool CPictureConverter::Scale(const unsigned char* const planes[3], const int strides[3], AVFrame* destination) {
    if (scaler_) {
        // Slices on threads exist only for reference-counted frames; the picture of our own is one.
        if (scaling_ == Scaling::SwsBicubicThreads && planes[0] == sourceYuv_->data[0])
            return sws_scale_frame(scaler_.get(), destination, sourceYuv_.get()) >= 0;
        return sws_scale(scaler_.get(), planes, strides, 0, sourceHeight_, destination->data, destination->linesize) >=
               0;
    }
    const auto filter = scaling_ == Scaling::LibyuvBilinear ? libyuv::kFilterBilinear : libyuv::kFilterBox;
    return libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2], sourceWidth_,
                             sourceHeight_, destination->data[0], destination->linesize[0], destination->data[1],
                             destination->linesize[1], destination->data[2], destination->linesize[2], width_,
                             height_, filter) == 0;
}

bool CPictureConverter::Convert(Layout layout, const unsigned char* const planes[3], const int strides[3],
                                AVFrame* destination) {
    if (!Configured() || planes == nullptr || strides == nullptr || planes[0] == nullptr || destination == nullptr ||
        destination->data[0] == nullptr || destination->width != width_ || destination->height != height_ ||
        strides[0] < MinimumStride(layout))
        return false;
    if (!sourceYuv_) return ToYuv(layout, planes, strides, destination->data, destination->linesize);
    if (layout == Layout::Yuv420) return Scale(planes, strides, destination);
    AVFrame* yuv = sourceYuv_.get();
    if (!ToYuv(layout, planes, strides, yuv->data, yuv->linesize)) return false;
    return Scale(yuv->data, yuv->linesize, destination);
}
