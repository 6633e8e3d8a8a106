#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CPacketQueue.h"
#include "CPictureConverter.h"
#include "CStreamSettings.h"
#include "StreamHealth.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

// Turns packed BGR pictures and 16-bit PCM blocks into one FLV stream (H.264 stream 0, AAC
// stream 1) published to an RTMP address (or written to a file). Encoded packets wait in a
// queue without time stamps; a writer thread of the encoder stamps them in arrival order
// (picture n at n / frameRate s, audio frame m at m × frame samples / sampleRate s) and hands
// them to the muxer every 10 ms.
//
// SendVideo is called by one thread (the capture timer), SendAudio by another (the audio
// capture); Open and Close by either of them or the user-interface thread, never while a
// SendVideo or SendAudio runs.
class CStreamEncoder {
public:
    // Entries left in the queue after a dequeue above which the writer drops them all.
    static constexpr std::size_t kBacklogLimit = 100;
    // The sound's share of the total bit rate.
    static constexpr int kAudioBitRate = 15600;

    explicit CStreamEncoder(const CStreamSettings* settings);
    ~CStreamEncoder();
    CStreamEncoder(const CStreamEncoder&) = delete;
    CStreamEncoder& operator=(const CStreamEncoder&) = delete;

    // Opens the output and the connection, writes the stream header and starts the writer.
    // 1 on success, 0 when the output cannot be created, connected or started. Codec set-up
    // failures end the process with status 1 after a line on standard error.
    int Open(const std::string& url, const std::string& formatName);

    // How the pixels of a source picture are laid out (Bgr24, Bgrx32, Rgbx32, Yuv420).
    using PixelLayout = CPictureConverter::Layout;

    // Scales, encodes and queues one picture of up to sourceWidth × sourceHeight × 3 bytes.
    // 0 when not running or when the encoder failed; 1 otherwise (also for a dropped picture).
    int SendVideo(const unsigned char* bgr, unsigned bytes);

    // The same for a picture of sourceWidth × sourceHeight packed pixels in `layout` (not
    // Yuv420) whose rows lie `stride` bytes apart. The pixels are read in place: the colours
    // are converted straight from them into the encoder's picture.
    int SendPicture(PixelLayout layout, const unsigned char* pixels, int stride);

    // The two halves of sending a picture, for callers that time them: the source picture of
    // sourceWidth × sourceHeight is converted and scaled into the encoder's picture (1, or 0
    // when not running or the scaler failed); that picture is encoded and queued (as SendVideo).
    int ConvertPicture(PixelLayout layout, const unsigned char* const planes[3], const int strides[3]);
    int EncodePicture();

    // Encodes and queues one block of AudioFrameBytes() bytes of 16-bit interleaved samples.
    // Blocks of another size, and blocks that would put the sound ahead of the pictures, are
    // dropped and answer 1. 0 when not running or when the encoder failed.
    int SendAudio(const unsigned char* pcm, int bytes);

    // One encoder audio frame of 16-bit samples in bytes (2048 for 1024 mono samples); 0
    // before the first Open.
    int AudioFrameBytes() const { return audioFrameBytes_; }

    // Ends the stream (trailer) and frees everything Open made. Harmless when not open.
    void Close();

    // Makes an Open running on another thread give up its connection at once (it answers 0)
    // rather than wait for a server that does not answer, and every later Open fail: for an
    // owner that is ending the broadcast and must not wait on a reconnection.
    void CancelOpen() { openCancelled_ = true; }

    bool Running() const { return running_.load(); }
    // Seconds: the time stamp the muxer gives the next packet of each stream.
    double VideoClock() const { return videoClock_.load(); }
    double AudioClock() const { return audioClock_.load(); }
    long long VideoFramesEncoded() const { return videoFramesEncoded_.load(); }
    // Packets thrown away by the backlog rule since construction.
    unsigned long long DiscardedPackets() const { return discarded_.load(); }
    // Packets encoded and not yet handed to the muxer, the one the writer is writing included.
    std::size_t PendingPackets() const {
        std::lock_guard lock(queueMutex_);
        return queue_.Count() + (entryInHand_.load() ? 1 : 0);
    }
    // Makes the next picture given to the encoder a key frame.
    void RequestKeyFrame() { forceKeyFrame_.store(true); }
    // The picture's bit rate now: the member's share of it, or less while the network is slower.
    long VideoBitRate() const { return videoTarget_.load(); }
    // What the writer saw go out; the sender marks the broadcast's start and its reopenings.
    StreamHealth& Health() { return health_; }
    const StreamHealth& Health() const { return health_; }

    struct Deleter {
        void operator()(AVFormatContext* p) const;
        void operator()(AVCodecContext* p) const;
        void operator()(AVFrame* p) const;
        void operator()(AVPacket* p) const;
        void operator()(SwrContext* p) const;
    };

private:
    AVStream* AddStream(int codecId);
    void OpenVideo();
    void OpenAudio();
    void QueuePacket(int streamIndex, int flags, const unsigned char* data, int size);
    int DrainEncoder(AVCodecContext* codec, int streamIndex, AVPacket* packet);
    void WriterLoop();
    void FreeOutput();
    static int InterruptCallback(void* opaque);

    const CStreamSettings* settings_;
    std::atomic<bool> running_{false};
    std::atomic<bool> writerRunning_{false};
    std::atomic<bool> abortIo_{false};
    std::atomic<bool> openCancelled_{false};
    std::atomic<bool> opening_{false};  // Open is connecting or writing the header
    bool opened_ = false;       // Open made objects that Close has to free
    bool headerWritten_ = false;

    std::unique_ptr<AVFormatContext, Deleter> output_;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    std::unique_ptr<AVCodecContext, Deleter> videoCodec_;
    std::unique_ptr<AVCodecContext, Deleter> audioCodec_;

    CPictureConverter converter_;  // configured by Open
    std::unique_ptr<SwrContext, Deleter> resampler_;
    std::vector<unsigned char> sourcePicture_;
    std::size_t sourcePictureBytes_ = 0;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    std::unique_ptr<AVFrame, Deleter> videoFrame_;  // the destination picture, YUV 4:2:0
    std::unique_ptr<AVFrame, Deleter> audioFrame_;
    // Packets taken from the encoders, one per sending thread, kept for the encoder's life.
    std::unique_ptr<AVPacket, Deleter> videoPacket_;
    std::unique_ptr<AVPacket, Deleter> audioPacket_;
    std::vector<unsigned char> audioSamples_;
    int audioFrameSamples_ = 0;
    int audioFrameBytes_ = 0;
    long long nextVideoPts_ = 0;  // encoder input time stamps
    long long nextAudioPts_ = 0;
    int frameRate_ = 1;
    int sampleRate_ = 1;

    std::atomic<long long> videoFramesEncoded_{0};
    std::atomic<double> videoClock_{0.0};
    std::atomic<double> audioClock_{0.0};
    std::atomic<unsigned long long> discarded_{0};
    std::atomic<bool> forceKeyFrame_{false};
    // Set by the writer, taken by the picture's encoder before each picture.
    std::atomic<long> videoTarget_{0};
    bool boundedRate_ = false;  // x264's buffer model holds the rate (set by Open)
    StreamHealth health_;

    mutable std::mutex queueMutex_;
    CPacketQueue queue_;
    std::atomic<bool> entryInHand_{false};  // the writer has popped an entry it has not written yet
    long long queuedPictures_ = 0;         // pictures among the queue's entries (under the mutex)
    std::thread writer_;
    // Written by the writer thread only: packets handed to the muxer per stream.
    long long videoPacketsWritten_ = 0;
    long long audioPacketsWritten_ = 0;
};
