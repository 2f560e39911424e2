#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "sources/model/Track.h"

namespace velto {

// Turns files and folders the user chose into songs of the source `local`. Each song's payload
// holds "filePath", "filename" and "fileSize"; files are opened by path later on. Stateless.
namespace LocalAudioScanner {

// Lower-case extensions: mp3, flac, m4a, wav, aac, aiff, aif, alac, ogg.
const std::set<std::string>& supportedExtensions();

// Judged by the extension alone, in any case.
bool isAudioFile(const std::filesystem::path& path);

// Folders are walked to every depth (hidden entries skipped, folder links not followed), each
// folder's files and folders together in name order, numbers compared as numbers ("track2"
// before "track10"), a file's extension only after the rest of its name ("track3.mp3" before
// "track3-1.mp3"); paths chosen one by one keep their order. Entries that cannot be read are
// left out; nothing else is reported. Throws CancellationError when `stop` is requested.
std::vector<Track> scan(const std::vector<std::filesystem::path>& paths, std::stop_token stop = {});

// The song of one file; none when nothing readable is at the path. Unreadable tags fall back to
// the file and folder names, an unknown duration leaves the interval out; an MP3 without a VBR
// header is as long as its frames (see MPEGFrameCount). A file is read only so far (see
// LocalAudioReadStream), so one that holds no audio ends quickly. Throws CancellationError when
// `stop` is requested, also while the file is being read.
std::optional<Track> track(const std::filesystem::path& path, std::stop_token stop = {});

// Whole seconds as "m:ss" (minutes unbounded); none below one second or for non-finite values.
std::optional<std::string> intervalText(double seconds);

}  // namespace LocalAudioScanner
}  // namespace velto
