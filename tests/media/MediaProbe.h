#pragma once

// Reading back what was published: ffprobe's view of a recorded file, and the settings libx264
// wrote into its "x264 - core" SEI text.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Capture.h"
#include "TempDir.h"

namespace testsupport {

using Fields = std::map<std::string, std::string>;

// One map per stream, from `ffprobe -show_streams`.
inline std::vector<Fields> ProbeStreams(const std::string& file) {
    const std::string out = Capture("ffprobe -v error -show_streams -of default=nw=0 '" + file + "' 2>/dev/null");
    std::vector<Fields> streams;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "[STREAM]") streams.emplace_back();
        const auto eq = line.find('=');
        if (eq != std::string::npos && !streams.empty()) streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

inline const Fields* StreamOfType(const std::vector<Fields>& streams, const std::string& type) {
    for (const auto& s : streams)
        if (s.count("codec_type") && s.at("codec_type") == type) return &s;
    return nullptr;
}

struct ProbedPacket {
    std::string type;  // "video" or "audio"
    double pts = 0;
    bool key = false;
};

// Packets in file order.
inline std::vector<ProbedPacket> ProbePackets(const std::string& file) {
    const std::string out = Capture("ffprobe -v error -show_entries packet=codec_type,pts_time,flags -of csv=p=0 '" +
                                    file + "' 2>/dev/null");
    std::vector<ProbedPacket> packets;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string type, pts, flags;
        if (!std::getline(fields, type, ',') || !std::getline(fields, pts, ',')) continue;
        std::getline(fields, flags, ',');
        ProbedPacket p;
        p.type = type;
        p.pts = pts == "N/A" ? NAN : std::stod(pts);
        p.key = flags.find('K') != std::string::npos;
        packets.push_back(p);
    }
    return packets;
}

// "options:" of the first "x264 - core" text in the file, as name → value.
inline Fields X264Options(const std::string& file) {
    const std::string bytes = ReadFile(file);
    Fields options;
    const auto core = bytes.find("x264 - core");
    if (core == std::string::npos) return options;
    const auto start = bytes.find("options: ", core);
    if (start == std::string::npos) return options;
    const auto end = bytes.find('\0', start);
    std::istringstream in(bytes.substr(start + 9, end == std::string::npos ? std::string::npos : end - start - 9));
    std::string token;
    while (in >> token) {
        const auto eq = token.find('=');
        if (eq != std::string::npos) options[token.substr(0, eq)] = token.substr(eq + 1);
    }
    return options;
}

// A picture that changes from frame to frame: diagonal bands moving right.
inline std::vector<unsigned char> MovingPicture(int width, int height, int frame) {
    std::vector<unsigned char> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<unsigned char>((x + y + frame * 8) & 0xff);
            p[1] = static_cast<unsigned char>((x * 2 - frame * 4) & 0xff);
            p[2] = static_cast<unsigned char>((y * 3) & 0xff);
        }
    return bgr;
}

// `samples` 16-bit mono samples of a sine, continuing from sample `first`.
inline std::vector<unsigned char> SineBlock(int samples, long first, double hz = 440.0, int rate = 22050,
                                            double amplitude = 12000) {
    std::vector<unsigned char> block(static_cast<size_t>(samples) * 2);
    for (int i = 0; i < samples; ++i) {
        const auto v = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(first + i) / rate));
        block[static_cast<size_t>(i) * 2] = static_cast<unsigned char>(v & 0xff);
        block[static_cast<size_t>(i) * 2 + 1] = static_cast<unsigned char>((v >> 8) & 0xff);
    }
    return block;
}

// The level of the tone of `hz` in `count` 16-bit samples at `rate`, in dB below full scale: the
// amplitude of that frequency (Hann window), so a full-scale sine gives 0 dBFS and silence a
// very low number.
inline double ToneLevelDbfs(const int16_t* samples, size_t count, double hz, int rate = 22050) {
    double re = 0, im = 0, weights = 0;
    for (size_t i = 0; i < count; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(count));
        const double phase = 2 * M_PI * hz * static_cast<double>(i) / rate;
        re += w * samples[i] * std::cos(phase);
        im -= w * samples[i] * std::sin(phase);
        weights += w;
    }
    const double amplitude = weights > 0 ? 2 * std::sqrt(re * re + im * im) / weights : 0;
    return 20 * std::log10(std::max(amplitude, 1e-3) / 32768.0);
}

}  // namespace testsupport
