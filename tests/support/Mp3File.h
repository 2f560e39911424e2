#pragma once

#include <filesystem>
#include <vector>

namespace velto {

// Writes MPEG-1 Layer III frames of silence, 44.1 kHz mono, one frame per entry of `kbps` (its
// bitrate in kbit/s, one of the layer's table), with no VBR header: a reader that takes the
// first frame's bitrate for the whole file is wrong by as much as the bitrates differ. Returns
// the seconds the frames last (1152 samples each).
double writeMp3Frames(const std::filesystem::path& path, const std::vector<int>& kbps);

}  // namespace velto
