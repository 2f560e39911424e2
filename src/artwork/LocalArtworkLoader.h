#pragma once

#include <optional>
#include <string>

#include "sources/model/Track.h"

namespace velto::LocalArtworkLoader {

// The picture bytes of a local song: the first non-empty side file beside the audio file
// ("cover.jpg", "cover.png", "folder.jpg", "front.jpg", "Cover.jpg", "Cover.png"), else the first
// non-empty picture embedded in the file (ID3v2, FLAC and Xiph pictures, MP4 "covr"). The file is
// the payload's "filePath", or the songmid. Files and pictures over 16 MiB are passed over.
// None when nothing is found; never fails. Blocks.
std::optional<std::string> loadLocalArtworkData(const Track& track);

}  // namespace velto::LocalArtworkLoader
