#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "foundation/files/AbandonableWork.h"
#include "sources/model/Track.h"

namespace velto::LocalArtworkLoader {

// The picture bytes of a local song: the first non-empty side file beside the audio file
// ("cover.jpg", "cover.png", "folder.jpg", "front.jpg", "Cover.jpg", "Cover.png"), else the first
// non-empty picture embedded in the file (ID3v2, FLAC and Xiph pictures, MP4 "covr"). The file is
// the payload's "filePath", or the songmid. Files and pictures over 16 MiB are passed over.
// None when nothing is found, or when the files did not answer within the bound of the user's
// file reads (then asking again reads anew). Blocks, but ends at once on a stop (throwing
// CancellationError), even while a read of the file hangs; tag reads end early past the
// scanner's read allowance.
//
// With `late`, a caller that stops waiting at `patience` leaves the read to go on unstopped; the
// picture it then finds goes to `late`, on a thread of its own. `answered`, when given, runs
// after each answer of the file system (a lookup, a read), on the read's thread.
std::optional<std::string> loadLocalArtworkData(
    const Track& track, std::stop_token stop = {},
    AbandonableWork::Late<std::optional<std::string>> late = {},
    std::function<void()> answered = {});

// The file whose picture is looked for: the payload's "filePath", or the songmid.
std::string fileOf(const Track& track);
// Where reads of that file go first (see AbandonableWork::placeOfRead); never waits on a share.
std::string placeOf(const Track& track);

}  // namespace velto::LocalArtworkLoader
