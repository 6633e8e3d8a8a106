#pragma once

// Receives the captured sound, one block at a time, on the capture thread.
class CAdoFrameHandler {
public:
    virtual ~CAdoFrameHandler() = default;
    // `buffer` holds `bytes` bytes of interleaved PCM and may be changed by the handler.
    virtual void OnAudioFrame(unsigned char* buffer, int bytes) = 0;
};
