#include "GifWriter.h"

#include <algorithm>

namespace {

class BitPacker {
public:
    void Put(unsigned code, int bits) {
        accumulator_ |= static_cast<std::uint32_t>(code) << count_;
        count_ += bits;
        while (count_ >= 8) {
            bytes_.push_back(static_cast<std::uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            count_ -= 8;
        }
    }
    std::vector<std::uint8_t> Finish() {
        if (count_ > 0) bytes_.push_back(static_cast<std::uint8_t>(accumulator_ & 0xFF));
        accumulator_ = 0;
        count_ = 0;
        return std::move(bytes_);
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t accumulator_ = 0;
    int count_ = 0;
};

}  // namespace

GifWriter::GifWriter(int screenWidth, int screenHeight, std::vector<std::uint32_t> palette, int backgroundIndex)
    : width_(screenWidth), height_(screenHeight), palette_(std::move(palette)), background_(backgroundIndex) {
    if (palette_.empty()) palette_.push_back(0);
    if (palette_.size() > 256) palette_.resize(256);
    tableBits_ = 1;
    while ((std::size_t{1} << tableBits_) < palette_.size()) ++tableBits_;
    palette_.resize(std::size_t{1} << tableBits_, 0);
}

void GifWriter::AddLoop() {
    static const std::uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E',
                                        '2',  '.',  '0',  0x03, 0x01, 0x00, 0x00, 0x00};
    body_.insert(body_.end(), std::begin(loop), std::end(loop));
}

void GifWriter::AddFrame(const std::vector<std::uint8_t>& indices, int left, int top, int width, int height,
                         const Options& options) {
    if (options.control) {
        body_.push_back(0x21);
        body_.push_back(0xF9);
        body_.push_back(0x04);
        body_.push_back(static_cast<std::uint8_t>(((options.disposal & 0x07) << 2) |
                                                  (options.transparentIndex >= 0 ? 1 : 0)));
        Word(options.delay);
        body_.push_back(static_cast<std::uint8_t>(std::max(options.transparentIndex, 0)));
        body_.push_back(0x00);
    }
    body_.push_back(0x2C);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    body_.push_back(0x00);  // no local table, not interlaced
    const auto data = Compress(indices, std::max(2, tableBits_));
    body_.insert(body_.end(), data.begin(), data.end());
}

std::vector<std::uint8_t> GifWriter::Finish() const {
    std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    out.push_back(static_cast<std::uint8_t>(width_ & 0xFF));
    out.push_back(static_cast<std::uint8_t>(width_ >> 8));
    out.push_back(static_cast<std::uint8_t>(height_ & 0xFF));
    out.push_back(static_cast<std::uint8_t>(height_ >> 8));
    out.push_back(static_cast<std::uint8_t>(0x80 | 0x70 | (tableBits_ - 1)));
    out.push_back(static_cast<std::uint8_t>(background_));
    out.push_back(0);
    for (std::uint32_t rgb : palette_) {
        out.push_back(static_cast<std::uint8_t>(rgb >> 16));
        out.push_back(static_cast<std::uint8_t>(rgb >> 8));
        out.push_back(static_cast<std::uint8_t>(rgb));
    }
    out.insert(out.end(), body_.begin(), body_.end());
    out.push_back(0x3B);
    return out;
}

std::vector<std::uint8_t> GifWriter::Compress(const std::vector<std::uint8_t>& indices, int minCodeSize) {
    const unsigned clear = 1u << minCodeSize;
    const unsigned end = clear + 1;
    const unsigned alphabet = clear;
    // next[code * alphabet + symbol]: the code extending `code` by `symbol`, 0 when none.
    std::vector<std::uint16_t> next(4096 * alphabet, 0);
    BitPacker bits;
    int codeSize = minCodeSize + 1;
    unsigned maxCode = end;
    bits.Put(clear, codeSize);

    long current = -1;
    for (std::uint8_t raw : indices) {
        const unsigned symbol = raw % alphabet;
        if (current < 0) {
            current = symbol;
            continue;
        }
        const std::uint16_t found = next[static_cast<std::size_t>(current) * alphabet + symbol];
        if (found != 0) {
            current = found;
            continue;
        }
        bits.Put(static_cast<unsigned>(current), codeSize);
        next[static_cast<std::size_t>(current) * alphabet + symbol] = static_cast<std::uint16_t>(++maxCode);
        if (maxCode >= (1u << codeSize)) ++codeSize;
        if (maxCode == 4095) {
            bits.Put(clear, codeSize);
            std::fill(next.begin(), next.end(), 0);
            codeSize = minCodeSize + 1;
            maxCode = end;
        }
        current = symbol;
    }
    if (current >= 0) bits.Put(static_cast<unsigned>(current), codeSize);
    bits.Put(end, codeSize);
    const std::vector<std::uint8_t> packed = bits.Finish();

    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(minCodeSize));
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), packed.begin() + static_cast<long>(at), packed.begin() + static_cast<long>(at + n));
    }
    out.push_back(0);
    return out;
}
