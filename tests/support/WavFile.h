#pragma once

#include <filesystem>

namespace velto {

// Writes a valid 8-bit mono PCM WAV of silence lasting `seconds` at `sampleRate` samples per
// second (a low rate keeps long files small).
void writeWav(const std::filesystem::path& path, double seconds, int sampleRate = 1000);

}  // namespace velto
