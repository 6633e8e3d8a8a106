#include "CStreamEncoder.h"

#include "BitRateAdaptation.h"
#include "PublishAddress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

long long SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

[[noreturn]] void Fail(const char* message) {
    if (message != nullptr) std::fputs(message, stderr);
    std::exit(1);
}

// FFmpeg's own words for an error code (av_err2str is C only).
std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) std::snprintf(text, sizeof text, "error %d", code);
    return text;
}

// A failed step and FFmpeg's reason, on one line of stderr.
void Report(const char* what, int code) { std::fprintf(stderr, "%s: %s\n", what, AvError(code).c_str()); }

// A set-up step that failed ends the process, with FFmpeg's reason.
void FailOn(const char* what, int code) {
    if (code >= 0) return;
    Report(what, code);
    std::exit(1);
}

void SetPrivate(AVCodecContext* c, const char* name, const char* value) {
    // An option this libx264 build does not know is reported, not fatal: the stream still plays.
    if (const int ret = av_opt_set(c->priv_data, name, value, 0); ret < 0)
        std::fprintf(stderr, "libx264 refused option %s=%s: %s\n", name, value, AvError(ret).c_str());
}

// The tuning levels. Values that FFmpeg no longer keeps in the codec context go to libx264's
// private options, so every row still reaches the encoder.
int TuningLevel(int quality) { return (quality == 1 || quality == 2) ? quality : 0; }

void ApplyTuning(AVCodecContext* c, int quality, int frameRate) {
    const int level = TuningLevel(quality);
    SetPrivate(c, "preset", level == 0 ? "ultrafast" : "fast");
    SetPrivate(c, "tune", "zerolatency");
    c->i_quant_factor = 0.71f;
    c->qcompress = 0.6f;
    c->me_range = 16;
    c->gop_size = 250;
    c->keyint_min = frameRate;
    SetPrivate(c, "b_strategy", "0");
    c->qmin = 10;
    c->qmax = 51;
    c->max_qdiff = 4;
    c->max_b_frames = 0;
    c->thread_type = FF_THREAD_FRAME;
    c->me_cmp |= 1;
    SetPrivate(c, "fast-pskip", "1");
    SetPrivate(c, "mbtree", "0");
    SetPrivate(c, "deblock", "0:0");
    SetPrivate(c, "psy", "0");
    SetPrivate(c, "nal-hrd", "0");

    if (level == 0) {
        c->flags ^= AV_CODEC_FLAG_LOOP_FILTER;
        // libx264 takes the partitions by name: none of i8x8, i4x4, p8x8, b8x8.
        SetPrivate(c, "partitions", "none");
        SetPrivate(c, "coder", "0");          // CAVLC
        SetPrivate(c, "motion-est", "dia");   // EPZS in the old numbering
        c->me_subpel_quality = 0;
        SetPrivate(c, "sc_threshold", "0");
        c->refs = 1;
        c->trellis = 0;
        SetPrivate(c, "direct-pred", "1");
        SetPrivate(c, "b-pyramid", "0");
        SetPrivate(c, "mixed-refs", "0");
        SetPrivate(c, "weightb", "0");
        SetPrivate(c, "8x8dct", "0");
        SetPrivate(c, "weightp", "0");
        SetPrivate(c, "aq-mode", "0");
        SetPrivate(c, "rc-lookahead", "0");
        SetPrivate(c, "profile", "baseline");
        return;
    }
    c->flags |= AV_CODEC_FLAG_LOOP_FILTER;
    SetPrivate(c, "partitions", "i8x8,i4x4,p8x8");  // and not b8x8
    SetPrivate(c, "coder", "1");  // CABAC
    SetPrivate(c, "motion-est", level == 1 ? "hex" : "umh");
    c->me_subpel_quality = level == 1 ? 6 : 8;
    SetPrivate(c, "sc_threshold", "40");
    c->refs = level == 1 ? 2 : 4;
    c->trellis = 1;
    SetPrivate(c, "direct-pred", level == 1 ? "1" : "3");
    SetPrivate(c, "mixed-refs", "1");
    SetPrivate(c, "8x8dct", "1");
    SetPrivate(c, "weightp", "2");
    SetPrivate(c, "rc-lookahead", level == 1 ? "30" : "32");
    SetPrivate(c, "psy-rd", "0");
    SetPrivate(c, "chromaoffset", "0");
    SetPrivate(c, "profile", "high");
}

// The average rate, a ceiling a quarter above it, and a buffer of one second.
void BoundRate(AVCodecContext* c, int64_t bitRate) {
    c->bit_rate = bitRate;
    c->rc_max_rate = bitRate * 5 / 4;
    c->rc_buffer_size = static_cast<int>(bitRate);
}

}  // namespace

void CStreamEncoder::Deleter::operator()(AVFormatContext* p) const { avformat_free_context(p); }
void CStreamEncoder::Deleter::operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
void CStreamEncoder::Deleter::operator()(AVFrame* p) const { av_frame_free(&p); }
void CStreamEncoder::Deleter::operator()(AVPacket* p) const { av_packet_free(&p); }
void CStreamEncoder::Deleter::operator()(SwrContext* p) const { swr_free(&p); }

CStreamEncoder::CStreamEncoder(const CStreamSettings* settings)
    : settings_(settings),
      videoPacket_(av_packet_alloc()),
      audioPacket_(av_packet_alloc()) {}

CStreamEncoder::~CStreamEncoder() { Close(); }

int CStreamEncoder::InterruptCallback(void* opaque) {
    const auto* e = static_cast<CStreamEncoder*>(opaque);
    return e->abortIo_.load() || (e->opening_.load() && e->openCancelled_.load()) ? 1 : 0;
}

AVStream* CStreamEncoder::AddStream(int codecId) {
    const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
    if (codec == nullptr) {
        std::fprintf(stderr, "Could not find encoder for '%s'\n", avcodec_get_name(static_cast<AVCodecID>(codecId)));
        std::exit(1);
    }
    AVStream* stream = avformat_new_stream(output_.get(), nullptr);
    if (stream == nullptr) Fail("Could not allocate stream\n");
    stream->id = static_cast<int>(output_->nb_streams) - 1;
    std::unique_ptr<AVCodecContext, Deleter> c(avcodec_alloc_context3(codec));  // encoder defaults
    if (!c) Fail("Could not allocate stream\n");

    if (codec->type == AVMEDIA_TYPE_AUDIO) {
        stream->id = 1;
        // The native AAC encoder takes planar float; SendAudio converts the 16-bit blocks.
        c->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
        c->bit_rate = kAudioBitRate;
        c->sample_rate = settings_->sampleRate;
        av_channel_layout_default(&c->ch_layout, settings_->channels);
        c->time_base = AVRational{1, settings_->sampleRate};
        stream->time_base = c->time_base;
    } else {
        ApplyTuning(c.get(), settings_->quality, settings_->frameRate);
        c->codec_id = static_cast<AVCodecID>(codecId);
        c->bit_rate = settings_->bitRate - kAudioBitRate;
        // A rate that is to follow the network has to hold from one second to the next, not
        // only on average over the stream (x264's average reacts too slowly to keep the queue
        // short): x264's buffer model (VBV) bounds each second, and it can only be changed later
        // when it was on from the start. Its ceiling lies above the rate, so x264 still averages
        // (ABR) rather than holding each picture to it (CBR). Only where the tuning looks no
        // pictures ahead: with VBV on, x264 would hold the higher levels' 30 pictures of
        // look-ahead back, three seconds more for every viewer.
        boundedRate_ = settings_->adaptiveBitRate && TuningLevel(settings_->quality) == 0;
        if (boundedRate_) BoundRate(c.get(), c->bit_rate);
        c->width = settings_->width;
        c->height = settings_->height;
        c->time_base = AVRational{1, settings_->frameRate};
        c->framerate = AVRational{settings_->frameRate, 1};
        c->max_b_frames = 0;
        c->thread_count = 2;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        // A key frame forced after a backlog discard must be an IDR picture, or the receiver
        // still lacks the references it lost.
        SetPrivate(c.get(), "forced-idr", "1");
        stream->time_base = c->time_base;
    }
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    if (codec->type == AVMEDIA_TYPE_AUDIO)
        audioCodec_ = std::move(c);
    else
        videoCodec_ = std::move(c);
    return stream;
}

void CStreamEncoder::OpenVideo() {
    AVCodecContext* c = videoCodec_.get();
    FailOn("Could not open the video encoder", avcodec_open2(c, c->codec, nullptr));
    videoFrame_.reset(av_frame_alloc());
    if (!videoFrame_) Fail("Could not allocate video frame\n");
    videoFrame_->format = c->pix_fmt;
    videoFrame_->width = c->width;
    videoFrame_->height = c->height;
    FailOn("Could not allocate the video frame's buffer", av_frame_get_buffer(videoFrame_.get(), 0));
    sourceWidth_ = settings_->sourceWidth;
    sourceHeight_ = settings_->sourceHeight;
    sourcePictureBytes_ = static_cast<std::size_t>(sourceWidth_) * sourceHeight_ * 3;
    sourcePicture_.assign(sourcePictureBytes_, 0);
    FailOn("Could not copy the video stream parameters", avcodec_parameters_from_context(videoStream_->codecpar, c));
}

void CStreamEncoder::OpenAudio() {
    AVCodecContext* c = audioCodec_.get();
    FailOn("Could not open the audio encoder", avcodec_open2(c, c->codec, nullptr));
    audioFrameSamples_ = (c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) ? 10000 : c->frame_size;
    audioFrameBytes_ = audioFrameSamples_ * (settings_->bitsPerSample / 8) * settings_->channels;
    audioSamples_.assign(static_cast<std::size_t>(audioFrameBytes_), 0);
    audioFrame_.reset(av_frame_alloc());
    if (!audioFrame_) Fail("Could not allocate audio samples buffer\n");
    audioFrame_->format = c->sample_fmt;
    audioFrame_->nb_samples = audioFrameSamples_;
    audioFrame_->sample_rate = c->sample_rate;
    if (av_channel_layout_copy(&audioFrame_->ch_layout, &c->ch_layout) < 0 ||
        av_frame_get_buffer(audioFrame_.get(), 0) < 0)
        Fail("Could not allocate audio samples buffer\n");

    const AVSampleFormat input = settings_->bitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_U8;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, c->sample_rate, &c->ch_layout, input,
                            c->sample_rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        Fail("Could not allocate audio samples buffer\n");
    }
    resampler_.reset(swr);
    FailOn("Could not copy the audio stream parameters", avcodec_parameters_from_context(audioStream_->codecpar, c));
}

void CStreamEncoder::FreeOutput() {
    if (output_ && output_->pb != nullptr && !(output_->oformat->flags & AVFMT_NOFILE)) avio_closep(&output_->pb);
    output_.reset();
    videoStream_ = nullptr;
    audioStream_ = nullptr;
    videoCodec_.reset();
    audioCodec_.reset();
    videoFrame_.reset();
    audioFrame_.reset();
    resampler_.reset();
}

int CStreamEncoder::Open(const std::string& url, const std::string& formatName) {
    Close();
    if (openCancelled_) return 0;
    struct Opening {
        std::atomic<bool>& flag;
        explicit Opening(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~Opening() { flag = false; }
    } opening(opening_);
    avformat_network_init();
    opened_ = true;  // from here on Close undoes what was made

    AVFormatContext* oc = nullptr;
    avformat_alloc_output_context2(&oc, nullptr, nullptr, url.c_str());
    if (oc == nullptr) {
        std::printf("Could not deduce output format from file extension.\n");
        std::fflush(stdout);
        if (const int ret = avformat_alloc_output_context2(&oc, nullptr, formatName.c_str(), url.c_str()); ret < 0)
            Report("Could not make the output", ret);
    }
    if (oc == nullptr) {
        Close();
        return 0;
    }
    output_.reset(oc);
    // What the muxer opens by itself (formats that write their own files) is held to the same
    // protocols as the output below.
    const char* protocols = OutputProtocolsFor(url);
    if (const int ret = av_opt_set(oc, "protocol_whitelist", protocols, 0); ret < 0) {
        Report("Could not limit the output's protocols", ret);
        Close();
        return 0;
    }
    abortIo_ = false;
    oc->interrupt_callback.callback = &CStreamEncoder::InterruptCallback;
    oc->interrupt_callback.opaque = this;

    frameRate_ = settings_->frameRate > 0 ? settings_->frameRate : 1;
    sampleRate_ = settings_->sampleRate > 0 ? settings_->sampleRate : 1;
    videoStream_ = AddStream(AV_CODEC_ID_H264);
    audioStream_ = AddStream(AV_CODEC_ID_AAC);
    OpenVideo();
    OpenAudio();

    av_dump_format(oc, 0, url.c_str(), 1);

    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        AVDictionary* options = nullptr;
        // Bounds a connection that is accepted but never answered, and a stalled send.
        av_dict_set(&options, "rw_timeout", "10000000", 0);
        // About a second of the stream in the kernel's send buffer. Left to itself it grows to
        // megabytes over a connection that the far end reads slowly: minutes of a stream that
        // the backlog rule, the bit rate that follows the link and the member's health line
        // would never see waiting.
        av_dict_set_int(&options, "send_buffer_size", std::max<int64_t>(64 * 1024, settings_->bitRate / 8), 0);
        av_dict_set(&options, "protocol_whitelist", protocols, 0);
        const int ret = avio_open2(&oc->pb, url.c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback, &options);
        av_dict_free(&options);
        if (ret < 0) {
            Report("Could not open the output", ret);
            Close();
            return 0;
        }
    }
    if (const int ret = avformat_write_header(oc, nullptr); ret < 0) {
        Report("Could not write the stream header", ret);
        Close();
        return 0;
    }
    headerWritten_ = true;

    nextVideoPts_ = 0;
    nextAudioPts_ = 0;
    videoPacketsWritten_ = 0;
    audioPacketsWritten_ = 0;
    videoClock_ = 0.0;
    audioClock_ = 0.0;
    videoFramesEncoded_ = 0;
    forceKeyFrame_ = false;
    videoTarget_ = static_cast<long>(settings_->bitRate) - kAudioBitRate;
    queuedPictures_ = 0;

    // The converter is made now, as a picture can only be dropped later: a failure here is a
    // set-up failure.
    if (!converter_.Configure(sourceWidth_, sourceHeight_, settings_->width, settings_->height))
        Fail("Could not initialize the conversion context\n");
    running_ = true;
    writerRunning_ = true;
    writer_ = std::thread(&CStreamEncoder::WriterLoop, this);
    return 1;
}

void CStreamEncoder::QueuePacket(int streamIndex, int flags, const unsigned char* data, int size) {
    auto entry = std::make_unique<mem_buffer>(static_cast<std::size_t>(size) + 2);
    const unsigned char head[2] = {static_cast<unsigned char>(streamIndex),
                                   static_cast<unsigned char>(flags & AV_PKT_FLAG_KEY)};
    entry->append(head, 2);
    entry->append(data, static_cast<std::size_t>(size));
    std::lock_guard lock(queueMutex_);
    queue_.Push(std::move(entry));
    if (streamIndex == 0) ++queuedPictures_;
}

// Takes every packet the encoder has ready; 0 on an encoder error.
int CStreamEncoder::DrainEncoder(AVCodecContext* codec, int streamIndex, AVPacket* packet) {
    if (packet == nullptr) return 0;
    for (;;) {
        const int ret = avcodec_receive_packet(codec, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return 1;
        if (ret < 0) return 0;
        // A packet produced after the stream stopped is dropped.
        if (running_) QueuePacket(streamIndex, packet->flags, packet->data, packet->size);
        av_packet_unref(packet);
    }
}

int CStreamEncoder::ConvertPicture(PixelLayout layout, const unsigned char* const planes[3], const int strides[3]) {
    if (!running_ || !videoCodec_) return 0;
    AVFrame* frame = videoFrame_.get();
    if (av_frame_make_writable(frame) < 0) return 0;
    return converter_.Convert(layout, planes, strides, frame) ? 1 : 0;
}

int CStreamEncoder::EncodePicture() {
    if (!running_ || !videoCodec_) return 0;
    AVFrame* frame = videoFrame_.get();
    // libx264 reconfigures itself when the rate differs from the one it encodes at.
    if (const long target = videoTarget_.load(); settings_->adaptiveBitRate && target != videoCodec_->bit_rate) {
        if (boundedRate_) BoundRate(videoCodec_.get(), target);
        else videoCodec_->bit_rate = target;
    }
    frame->pts = nextVideoPts_++;
    frame->pict_type = forceKeyFrame_.exchange(false) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(videoCodec_.get(), frame) < 0) return 0;
    if (!DrainEncoder(videoCodec_.get(), 0, videoPacket_.get())) return 0;
    ++videoFramesEncoded_;
    return 1;
}

int CStreamEncoder::SendVideo(const unsigned char* bgr, unsigned bytes) {
    if (!sourcePicture_.empty() && bgr != nullptr)
        std::memcpy(sourcePicture_.data(), bgr, std::min<std::size_t>(bytes, sourcePictureBytes_));
    if (!running_ || !videoCodec_) return 0;
    const unsigned char* const planes[3] = {sourcePicture_.data(), nullptr, nullptr};
    const int strides[3] = {sourceWidth_ * 3, 0, 0};
    // A picture the scaler refuses is dropped; the stream goes on.
    if (ConvertPicture(PixelLayout::Bgr24, planes, strides) == 0) return running_ ? 1 : 0;
    return EncodePicture();
}

int CStreamEncoder::SendPicture(PixelLayout layout, const unsigned char* pixels, int stride) {
    if (!running_ || !videoCodec_) return 0;
    // A picture that cannot be read whole is dropped; the stream goes on.
    if (pixels == nullptr || layout == PixelLayout::Yuv420 || stride < converter_.MinimumStride(layout)) return 1;
    const unsigned char* const planes[3] = {pixels, nullptr, nullptr};
    const int strides[3] = {stride, 0, 0};
    if (ConvertPicture(layout, planes, strides) == 0) return running_ ? 1 : 0;
    return EncodePicture();
}

int CStreamEncoder::SendAudio(const unsigned char* pcm, int bytes) {
    if (!running_ || !audioCodec_) return 0;
    if (bytes != audioFrameBytes_ || pcm == nullptr) return 1;
    std::memcpy(audioSamples_.data(), pcm, static_cast<std::size_t>(bytes));
    // Sound never runs ahead of the pictures.
    if (audioStream_ == nullptr || !(videoClock_.load() > audioClock_.load())) return 1;

    AVFrame* frame = audioFrame_.get();
    if (av_frame_make_writable(frame) < 0) return 0;
    const uint8_t* in[1] = {audioSamples_.data()};
    if (swr_convert(resampler_.get(), frame->data, audioFrameSamples_, in, audioFrameSamples_) < 0) return 0;
    frame->pts = nextAudioPts_;
    nextAudioPts_ += audioFrameSamples_;
    if (avcodec_send_frame(audioCodec_.get(), frame) < 0) return 0;
    return DrainEncoder(audioCodec_.get(), 1, audioPacket_.get());
}

void CStreamEncoder::WriterLoop() {
    PacketPtr packet(av_packet_alloc());
    BitRateAdaptation adaptation(videoTarget_.load(), kAudioBitRate);
    long long sampledMs = 0;
    long long written = output_->pb != nullptr ? output_->pb->bytes_written : 0;
    // About every tenth of a second: the queue's length in time, what has left, and the rate
    // that follows from them.
    const auto look = [&](bool discarded) {
        const long long now = SteadyMs();
        if (!discarded && now - sampledMs < 100) return;
        sampledMs = now;
        long long pictures;
        {
            std::lock_guard lock(queueMutex_);
            pictures = queuedPictures_;
        }
        const int queuedMs = static_cast<int>(std::min<long long>(pictures * 1000 / frameRate_, 1 << 30));
        health_.Sample(now, queuedMs, videoTarget_.load());
        if (!settings_->adaptiveBitRate) return;
        const long sent = health_.BitsPerSecond(BitRateAdaptation::kMeasureMs);
        if (discarded) adaptation.Discarded(now, sent);
        videoTarget_ = adaptation.Update(now, queuedMs, sent);
    };
    while (running_ && packet) {
        for (;;) {
            CPacketQueue::Entry entry;
            long long dropped = -1;
            {
                std::lock_guard lock(queueMutex_);
                if (!queue_.Pop(entry)) break;
                entryInHand_ = true;
                if (entry->data()[0] == 0) --queuedPictures_;
                if (queue_.Count() > kBacklogLimit) {
                    // The network cannot keep up: drop the backlog, and restart the picture
                    // with a key frame, since the dropped packets held its references.
                    discarded_ += queue_.Clear();
                    dropped = queuedPictures_;
                    queuedPictures_ = 0;
                    forceKeyFrame_ = true;
                }
            }
            if (dropped >= 0) {
                health_.Dropped(dropped, SteadyMs());
                look(true);
            }
            if (!running_) {
                entryInHand_ = false;
                break;
            }
            const bool video = entry->data()[0] == 0;
            AVStream* stream = video ? videoStream_ : audioStream_;
            av_packet_unref(packet.get());
            packet->data = entry->data() + 2;
            packet->size = static_cast<int>(entry->size() - 2);
            packet->stream_index = stream->index;
            packet->flags = entry->data()[1];
            // Stamped in arrival order at the stream's constant rate.
            int64_t ts;
            if (video) {
                ts = av_rescale_q(videoPacketsWritten_++, AVRational{1, frameRate_}, stream->time_base);
                videoClock_ = static_cast<double>(av_rescale_q(videoPacketsWritten_, AVRational{1, frameRate_},
                                                               stream->time_base)) *
                              av_q2d(stream->time_base);
            } else {
                ts = av_rescale_q(audioPacketsWritten_++ * audioFrameSamples_, AVRational{1, sampleRate_},
                                  stream->time_base);
                audioClock_ = static_cast<double>(av_rescale_q(audioPacketsWritten_ * audioFrameSamples_,
                                                               AVRational{1, sampleRate_}, stream->time_base)) *
                              av_q2d(stream->time_base);
            }
            packet->pts = ts;
            packet->dts = ts;
            if (const int ret = av_interleaved_write_frame(output_.get(), packet.get()); ret < 0) {
                Report("Could not send a packet", ret);
                running_ = false;
            }
            // What the connection took (a live stream's output is flushed after every packet).
            const long long now = output_->pb != nullptr ? output_->pb->bytes_written : written;
            health_.Sent(now - written, video);
            written = now;
            entryInHand_ = false;
            packet->data = nullptr;
            packet->size = 0;
            look(false);
        }
        look(false);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    writerRunning_ = false;
}

void CStreamEncoder::Close() {
    if (!opened_) return;
    running_ = false;
    if (writer_.joinable()) {
        // A writer stuck on a stalled connection is released after a grace period.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (writerRunning_ && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (writerRunning_) abortIo_ = true;
        writer_.join();
    }
    if (headerWritten_) av_write_trailer(output_.get());
    headerWritten_ = false;
    FreeOutput();
    avformat_network_deinit();
    {
        std::lock_guard lock(queueMutex_);
        queue_.Clear();
    }
    converter_.Reset();
    sourcePicture_.clear();
    opened_ = false;
}
