#include "support/WavFile.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velto {

namespace {
void put32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}
}  // namespace

void writeWav(const std::filesystem::path& path, double seconds, int sampleRate) {
    const auto samples = static_cast<std::uint32_t>(seconds * sampleRate);
    std::string data;
    data += "RIFF";
    put32(data, 36 + samples);
    data += "WAVE";
    data += "fmt ";
    put32(data, 16);
    put16(data, 1);  // PCM
    put16(data, 1);  // mono
    put32(data, static_cast<std::uint32_t>(sampleRate));
    put32(data, static_cast<std::uint32_t>(sampleRate));  // bytes per second
    put16(data, 1);                                       // block align
    put16(data, 8);                                       // bits per sample
    data += "data";
    put32(data, samples);
    data.append(samples, static_cast<char>(0x80));  // 8-bit silence is the midpoint
    if (samples % 2) data.push_back('\0');          // chunks are padded to even sizes
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace velto
