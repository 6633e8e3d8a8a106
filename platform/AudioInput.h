#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct AudioFormat {
    int sampleRate = 22050;
    int bitsPerSample = 16;
    int channels = 1;
    int BytesPerSecond() const { return sampleRate * channels * (bitsPerSample / 8); }
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
};

// One entry of the capture source list. An empty `name` is the server's default source.
struct AudioSourceInfo {
    std::string name;
    std::string description;
};

}  // namespace platform
