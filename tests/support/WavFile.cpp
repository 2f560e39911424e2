#include "support/WavFile.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace velto {

namespace {
void put16(std::vector<char>& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>(value >> 8));
}
void put32(std::vector<char>& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xffff));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}
}  // namespace

std::size_t writeWavFile(const std::filesystem::path& path, double seconds, int sampleRate,
                         int channels, double amplitude, double frequency) {
    auto frames = static_cast<std::size_t>(std::llround(seconds * sampleRate));
    auto dataBytes = static_cast<std::uint32_t>(frames * channels * 2);
    std::vector<char> out;
    out.reserve(44 + dataBytes);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, 36 + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, static_cast<std::uint16_t>(channels));
    put32(out, static_cast<std::uint32_t>(sampleRate));
    put32(out, static_cast<std::uint32_t>(sampleRate * channels * 2));
    put16(out, static_cast<std::uint16_t>(channels * 2));
    put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, dataBytes);
    for (std::size_t i = 0; i < frames; ++i) {
        double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate;
        auto sample = static_cast<std::int16_t>(std::lround(amplitude * 32767 * std::sin(phase)));
        for (int c = 0; c < channels; ++c) put16(out, static_cast<std::uint16_t>(sample));
    }
    std::ofstream file(path, std::ios::binary);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
    return frames;
}

}  // namespace velto
