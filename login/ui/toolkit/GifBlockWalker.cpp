#include "GifBlockWalker.h"

#include <cstring>

namespace {
constexpr std::size_t kHeaderSize = 13;
constexpr std::size_t kDescriptorSize = 10;
constexpr std::uint8_t kExtension = 0x21;
constexpr std::uint8_t kImage = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;

std::size_t ColourTableBytes(std::uint8_t packed) {
    return (packed & 0x80) ? 3u << ((packed & 0x07) + 1) : 0u;
}
}  // namespace

void GifBlockWalker::Reset() {
    *this = GifBlockWalker();
}

std::size_t GifBlockWalker::SkipSubBlocks(std::size_t pos) const {
    while (pos < size_) {
        const std::size_t length = data_[pos++];
        if (length == 0) return pos;
        if (length > size_ - pos) return kBadEnd;
        pos += length;
    }
    return kBadEnd;
}

bool GifBlockWalker::Walk(const std::uint8_t* data, std::size_t size) {
    Reset();
    data_ = data;
    size_ = data ? size : 0;
    if (size_ < 6 || std::memcmp(data_, "GIF", 3) != 0 ||
        (std::memcmp(data_ + 3, "87a", 3) != 0 && std::memcmp(data_ + 3, "89a", 3) != 0))
        return false;
    isGif_ = true;
    if (size_ < kHeaderSize) return true;  // a GIF without a screen: no frames

    screenWidth_ = Word(6);
    screenHeight_ = Word(8);
    const std::uint8_t packed = data_[10];
    tableSize_ = ColourTableBytes(packed);
    if (tableSize_ > size_ - kHeaderSize) {
        // The table runs past the end: nothing after it can be trusted.
        tableSize_ = 0;
        return true;
    }
    const std::size_t bgEntry = std::size_t{data_[11]} * 3;
    if (tableSize_ != 0 && bgEntry + 2 < tableSize_) {
        background_.red = data_[kHeaderSize + bgEntry];
        background_.green = data_[kHeaderSize + bgEntry + 1];
        background_.blue = data_[kHeaderSize + bgEntry + 2];
    }

    std::size_t pos = kHeaderSize + tableSize_;
    Frame pending;
    while (pos < size_ && frames_.size() < kMaxFrames) {
        const std::uint8_t type = data_[pos];
        if (type == kExtension) {
            if (size_ - pos < 2) break;
            const std::uint8_t label = data_[pos + 1];
            std::size_t header = 0;
            switch (label) {
            case 0xF9: header = 2; break;   // graphic control: its fields are its first sub-block
            case 0xFE: header = 2; break;   // comment
            case 0x01: header = 15; break;  // plain text
            case 0xFF: header = 14; break;  // application
            default: header = 0; break;
            }
            if (header == 0 || header > size_ - pos) break;
            const std::size_t end = SkipSubBlocks(pos + header);
            if (end == kBadEnd) break;
            if (label == 0xF9) {
                pending.controlOffset = pos;
                pending.controlEnd = end;
                // A well-formed control block carries 4 bytes; a shorter one has no fields.
                if (data_[pos + 2] >= 4) {
                    pending.disposal = (data_[pos + 3] >> 2) & 0x07;
                    pending.delay = Word(pos + 4);
                } else {
                    pending.disposal = 0;
                    pending.delay = -1;
                }
            }
            pos = end;
        } else if (type == kImage) {
            if (size_ - pos < kDescriptorSize) break;
            const std::size_t localTable = ColourTableBytes(data_[pos + 9]);
            if (localTable + 1 > size_ - pos - kDescriptorSize) break;
            const std::size_t end = SkipSubBlocks(pos + kDescriptorSize + localTable + 1);
            if (end == kBadEnd) break;
            Frame frame = pending;
            frame.descriptorOffset = pos;
            frame.dataEnd = end;
            frame.left = Word(pos + 1);
            frame.top = Word(pos + 3);
            frame.width = Word(pos + 5);
            frame.height = Word(pos + 7);
            frames_.push_back(frame);
            pending = Frame();
            pos = end;
        } else {
            break;  // the trailer, or a block we do not know: the walk ends
        }
    }
    return true;
}

std::vector<std::uint8_t> GifBlockWalker::BuildFrameGif(std::size_t index) const {
    std::vector<std::uint8_t> out;
    if (index >= frames_.size()) return out;
    const Frame& f = frames_[index];
    const std::size_t controlBytes =
        f.controlOffset == Frame::kNoExtension ? 0 : f.controlEnd - f.controlOffset;
    out.reserve(kHeaderSize + tableSize_ + controlBytes + (f.dataEnd - f.descriptorOffset) + 1);
    out.insert(out.end(), data_, data_ + kHeaderSize + tableSize_);
    out[6] = static_cast<std::uint8_t>(f.width & 0xFF);
    out[7] = static_cast<std::uint8_t>(f.width >> 8);
    out[8] = static_cast<std::uint8_t>(f.height & 0xFF);
    out[9] = static_cast<std::uint8_t>(f.height >> 8);
    if (tableSize_ == 0) out[10] &= 0x7F;  // a table cut away as truncated is not announced
    if (controlBytes != 0)
        out.insert(out.end(), data_ + f.controlOffset, data_ + f.controlEnd);
    const std::size_t descriptorAt = out.size();
    out.insert(out.end(), data_ + f.descriptorOffset, data_ + f.dataEnd);
    for (std::size_t i = 1; i <= 4; ++i) out[descriptorAt + i] = 0;  // left and top
    out.push_back(kTrailer);
    return out;
}
