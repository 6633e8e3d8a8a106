// Arbitrary bytes as a picture file: the GIF block walker must stay inside the data, and every
// frame it reports must lie inside the data and cut into a GIF that walks again to one frame.

#include <cstdint>
#include <cstdlib>

#include "GifBlockWalker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    GifBlockWalker walker;
    if (!walker.Walk(data, size)) return 0;
    const auto& frames = walker.Frames();
    if (frames.size() > GifBlockWalker::kMaxFrames) std::abort();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        if (f.dataEnd > size || f.descriptorOffset >= f.dataEnd) std::abort();
        const auto one = walker.BuildFrameGif(i);
        GifBlockWalker again;
        if (!again.Walk(one.data(), one.size()) || again.Frames().size() != 1) std::abort();
        if (again.Frames()[0].width != f.width || again.Frames()[0].height != f.height ||
            again.Frames()[0].delay != f.delay)
            std::abort();
    }
    return 0;
}
