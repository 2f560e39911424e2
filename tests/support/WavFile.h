#pragma once

#include <cstddef>
#include <filesystem>

namespace velto {

// Writes a valid 8-bit mono PCM WAV of silence lasting `seconds` at `sampleRate` samples per
// second (a low rate keeps long files small).
void writeWav(const std::filesystem::path& path, double seconds, int sampleRate = 1000);

// Writes a 16-bit PCM WAV file holding a sine tone and returns its number of frames.
std::size_t writeWavFile(const std::filesystem::path& path, double seconds, int sampleRate = 44100,
                         int channels = 2, double amplitude = 0.5, double frequency = 440);

}  // namespace velto
