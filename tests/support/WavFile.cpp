#include "support/WavFile.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <stdexcept>
#include <string>

namespace velto {

namespace {
void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>(value >> 8));
}
void put32(std::string& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xffff));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

std::string header(std::uint32_t dataBytes, int sampleRate, int channels, int bits) {
    std::string out = "RIFF";
    put32(out, 36 + dataBytes + (dataBytes % 2));
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, static_cast<std::uint16_t>(channels));
    put32(out, static_cast<std::uint32_t>(sampleRate));
    put32(out, static_cast<std::uint32_t>(sampleRate * channels * bits / 8));
    put16(out, static_cast<std::uint16_t>(channels * bits / 8));
    put16(out, static_cast<std::uint16_t>(bits));
    out += "data";
    put32(out, dataBytes);
    return out;
}

void writeFile(const std::filesystem::path& path, const std::string& data) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}
}  // namespace

void writeWav(const std::filesystem::path& path, double seconds, int sampleRate) {
    const auto samples = static_cast<std::uint32_t>(seconds * sampleRate);
    std::string data = header(samples, sampleRate, 1, 8);
    data.append(samples, static_cast<char>(0x80));  // 8-bit silence is the midpoint
    if (samples % 2) data.push_back('\0');          // chunks are padded to even sizes
    writeFile(path, data);
}

std::size_t writeWavFile(const std::filesystem::path& path, double seconds, int sampleRate,
                         int channels, double amplitude, double frequency) {
    auto frames = static_cast<std::size_t>(std::llround(seconds * sampleRate));
    auto dataBytes = static_cast<std::uint32_t>(frames * channels * 2);
    std::string data = header(dataBytes, sampleRate, channels, 16);
    data.reserve(data.size() + dataBytes);
    for (std::size_t i = 0; i < frames; ++i) {
        double phase = 2 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate;
        auto sample = static_cast<std::int16_t>(std::lround(amplitude * 32767 * std::sin(phase)));
        for (int c = 0; c < channels; ++c) put16(data, static_cast<std::uint16_t>(sample));
    }
    writeFile(path, data);
    return frames;
}

}  // namespace velto
