#pragma once

// What a viewer's decoder makes of a recorded FLV stream, picture by picture: the H.264
// frame_num of each picture (a gap means pictures were lost on the way), whether it is a key
// frame, and whether the decoder reported an error while decoding it.

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace testsupport {

struct RecordedPicture {
    double pts = 0;
    bool key = false;
    int frameNum = -1;
    bool gapBefore = false;  // frame_num does not follow the reference picture before it
    bool decodeError = false;
};

struct RecordedStream {
    bool opened = false;
    std::vector<RecordedPicture> video;
    std::vector<double> audioPts;
    long long videoBytes = 0;
};

namespace detail {

// Reads the bits of one NAL unit, emulation prevention bytes removed.
class BitReader {
public:
    BitReader(const uint8_t* data, std::size_t size) {
        int zeros = 0;
        for (std::size_t i = 0; i < size && bytes_.size() < 64; ++i) {
            if (zeros >= 2 && data[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = data[i] == 0 ? zeros + 1 : 0;
            bytes_.push_back(data[i]);
        }
    }
    unsigned Bit() {
        if (pos_ / 8 >= bytes_.size()) {
            bad_ = true;
            return 0;
        }
        const unsigned b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1u;
        ++pos_;
        return b;
    }
    unsigned Bits(int n) {
        unsigned v = 0;
        while (n-- > 0) v = (v << 1) | Bit();
        return v;
    }
    unsigned Ue() {
        int zeros = 0;
        while (Bit() == 0 && !bad_ && zeros < 32) ++zeros;
        return (1u << zeros) - 1 + Bits(zeros);
    }
    int Se() {
        const unsigned v = Ue();
        return (v & 1) ? static_cast<int>((v + 1) / 2) : -static_cast<int>(v / 2);
    }
    bool Bad() const { return bad_; }

private:
    std::vector<uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool bad_ = false;
};

struct SpsInfo {
    int log2MaxFrameNum = 0;
    bool separateColourPlane = false;
};

// From the AVCDecoderConfigurationRecord in the stream's extradata: the NAL length size and
// the first sequence parameter set's frame_num width.
inline bool ParseAvcConfig(const uint8_t* x, int size, int& lengthSize, SpsInfo& sps) {
    if (size < 8 || x[0] != 1 || (x[5] & 0x1f) == 0) return false;
    lengthSize = (x[4] & 3) + 1;
    const int spsSize = (x[6] << 8) | x[7];
    if (8 + spsSize > size) return false;
    BitReader r(x + 9, static_cast<std::size_t>(spsSize - 1));  // past the NAL header byte
    const unsigned profile = r.Bits(8);
    r.Bits(16);
    r.Ue();
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
        profile == 86 || profile == 118 || profile == 128 || profile == 138 || profile == 139 || profile == 134) {
        const unsigned chroma = r.Ue();
        if (chroma == 3) sps.separateColourPlane = r.Bit() != 0;
        r.Ue();
        r.Ue();
        r.Bit();
        if (r.Bit()) {  // scaling matrices
            for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i) {
                if (!r.Bit()) continue;
                int last = 8, next = 8;
                for (int j = 0; j < (i < 6 ? 16 : 64); ++j) {
                    if (next != 0) next = (last + r.Se() + 256) % 256;
                    last = next == 0 ? last : next;
                }
            }
        }
    }
    sps.log2MaxFrameNum = static_cast<int>(r.Ue()) + 4;
    return !r.Bad();
}

inline int& DecoderErrors() {
    static int errors = 0;
    return errors;
}

inline void CountErrors(void* avcl, int level, const char* fmt, va_list args) {
    if (level <= AV_LOG_ERROR) {
        ++DecoderErrors();
        char line[512];
        std::vsnprintf(line, sizeof line, fmt, args);
        std::fprintf(stderr, "decoder: %s", line);
    }
    (void)avcl;
}

struct FormatClose {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

}  // namespace detail

using FramePtr = std::unique_ptr<AVFrame, detail::FrameFree>;

// A YUV 4:2:0 picture of the size, its planes allocated; null when FFmpeg has no room for it.
inline FramePtr YuvFrame(int width, int height) {
    FramePtr f(av_frame_alloc());
    if (!f) return f;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (av_frame_get_buffer(f.get(), 0) < 0) f.reset();
    return f;
}

// Reads and decodes the whole recording. Not thread-safe (it takes over FFmpeg's log).
inline RecordedStream ReadRecording(const std::string& file) {
    using namespace detail;
    RecordedStream out;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return out;
    std::unique_ptr<AVFormatContext, FormatClose> input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0) return out;
    const int videoIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (videoIndex < 0) return out;
    const AVStream* video = input->streams[videoIndex];
    int lengthSize = 4;
    SpsInfo sps;
    if (!ParseAvcConfig(video->codecpar->extradata, video->codecpar->extradata_size, lengthSize, sps)) return out;

    const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
    std::unique_ptr<AVCodecContext, CodecFree> decoder(avcodec_alloc_context3(h264));
    avcodec_parameters_to_context(decoder.get(), video->codecpar);
    decoder->thread_count = 1;  // an error belongs to the picture just given
    decoder->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    if (avcodec_open2(decoder.get(), h264, nullptr) < 0) return out;
    out.opened = true;

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    const int maxFrameNum = 1 << sps.log2MaxFrameNum;
    int prevRef = -1;
    const int oldLevel = av_log_get_level();
    av_log_set_callback(&CountErrors);
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == audioIndex) {
            out.audioPts.push_back(static_cast<double>(packet->pts) * av_q2d(input->streams[audioIndex]->time_base));
        } else if (packet->stream_index == videoIndex) {
            RecordedPicture pic;
            pic.pts = static_cast<double>(packet->pts) * av_q2d(video->time_base);
            pic.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            out.videoBytes += packet->size;
            // The first slice of the picture gives frame_num.
            for (int at = 0; at + lengthSize <= packet->size;) {
                unsigned length = 0;
                for (int i = 0; i < lengthSize; ++i) length = (length << 8) | packet->data[at + i];
                at += lengthSize;
                if (length == 0 || at + static_cast<int>(length) > packet->size) break;
                const uint8_t header = packet->data[at];
                const int type = header & 0x1f;
                if (type == 1 || type == 5) {
                    BitReader r(packet->data + at + 1, length - 1);
                    r.Ue();
                    r.Ue();
                    r.Ue();
                    if (sps.separateColourPlane) r.Bits(2);
                    pic.frameNum = static_cast<int>(r.Bits(sps.log2MaxFrameNum));
                    if (type == 5) {
                        prevRef = pic.frameNum;
                    } else {
                        pic.gapBefore = prevRef >= 0 && pic.frameNum != (prevRef + 1) % maxFrameNum &&
                                        pic.frameNum != prevRef;
                        if ((header & 0x60) != 0) prevRef = pic.frameNum;
                    }
                    break;
                }
                at += static_cast<int>(length);
            }
            DecoderErrors() = 0;
            bool error = avcodec_send_packet(decoder.get(), packet.get()) < 0;
            while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
                error = error || frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT);
                av_frame_unref(frame.get());
            }
            pic.decodeError = error || DecoderErrors() > 0;
            out.video.push_back(pic);
        }
        av_packet_unref(packet.get());
    }
    av_log_set_callback(&av_log_default_callback);
    av_log_set_level(oldLevel);
    return out;
}

}  // namespace testsupport
