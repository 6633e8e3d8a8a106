#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct AudioFormat {
    int sampleRate = 22050;
    int bitsPerSample = 16;
    int channels = 1;
    int BytesPerSecond() const { return sampleRate * channels * (bitsPerSample / 8); }
    int FrameBytes() const { return channels * (bitsPerSample / 8); }
};

// An open sound capture stream. Reads never wait: whatever the sound server has delivered so far
// is handed out, and a stream that delivers nothing (a monitor while nothing plays, a suspended
// source) simply returns 0.
class IAudioInput {
public:
    virtual ~IAudioInput() = default;
    // Copies up to `size` captured bytes into `out`; returns the count, or -1 once the stream or
    // the server connection has failed.
    virtual long Read(unsigned char* out, std::size_t size) = 0;
    // Why Read returned -1, in the sound server's own words; empty when it did not say.
    virtual std::string Error() const { return {}; }
    // Sound the server has captured for this stream but not yet handed to Read, by the server's
    // own timing: a source that delivers in large blocks is late by this much, not silent. 0
    // when nothing is on its way (the source is suspended, or idle, or the server cannot say).
    virtual long long OwedBytes() { return 0; }
};

// The streams one choice of the audio source list records, mixed by the capture. The set may
// change while it is open: the game's own streams begin and end with the game's sounds.
class IAudioSources {
public:
    struct Stream {
        unsigned key;  // the same for as long as the stream lives
        IAudioInput* input;
    };
    virtual ~IAudioSources() = default;
    // Brings the set up to date with the sound server and lists the streams open now. The
    // pointers stay valid until the next call.
    virtual std::vector<Stream> Streams() = 0;
    // The capture could not read stream `key`. True when only a set opened anew can have it
    // back (a fixed set of sources); false when the set goes on without it, as one that follows
    // streams beginning and ending does.
    virtual bool StreamFailed(unsigned key) {
        (void)key;
        return true;
    }
    // Whether the set has lost its server: it records nothing more until it is opened anew.
    virtual bool Lost() { return false; }
};

// A fixed set of streams, opened together (the microphone beside the computer's sound).
class AudioInputList final : public IAudioSources {
public:
    explicit AudioInputList(std::vector<std::unique_ptr<IAudioInput>> inputs) : inputs_(std::move(inputs)) {}
    std::vector<Stream> Streams() override {
        std::vector<Stream> streams;
        for (std::size_t i = 0; i < inputs_.size(); ++i) streams.push_back({static_cast<unsigned>(i), inputs_[i].get()});
        return streams;
    }

private:
    std::vector<std::unique_ptr<IAudioInput>> inputs_;
};

// One entry of the capture source list. An empty `name` is the server's default source.
struct AudioSourceInfo {
    std::string name;
    std::string description;
};

// What one entry of the audio source list records.
struct AudioSourceChoice {
    enum class Kind {
        Source,                 // one source by name; an empty name is the server's default source
        MicrophoneAndComputer,  // the default source mixed with the monitor of the default sink
        GameOnly,               // the streams the game's process (or a child of it) plays
    };
    Kind kind = Kind::Source;
    std::string name;
    long gameProcess = 0;  // GameOnly: the game's process id, known once the game is chosen

    AudioSourceChoice() = default;
    AudioSourceChoice(std::string sourceName) : name(std::move(sourceName)) {}
    AudioSourceChoice(const char* sourceName) : name(sourceName) {}
    static AudioSourceChoice MicrophoneAndComputer() {
        AudioSourceChoice c;
        c.kind = Kind::MicrophoneAndComputer;
        return c;
    }
    static AudioSourceChoice GameOnly(long process = 0) {
        AudioSourceChoice c;
        c.kind = Kind::GameOnly;
        c.gameProcess = process;
        return c;
    }
    bool operator==(const AudioSourceChoice&) const = default;
};

}  // namespace platform
