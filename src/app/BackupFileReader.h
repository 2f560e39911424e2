#pragma once

#include <filesystem>
#include <stop_token>
#include <string>

namespace velto {

// Reads a chosen backup file without trusting it: a regular file only, its size checked
// before any byte is read, never more than the format's limit plus one byte.
namespace BackupFileReader {
// Throws PlaylistBackupError: tooLarge past the limit, invalidFile when it is no regular file
// or cannot be read, also within the bound of the user's file reads; CancellationError at once
// on a stop, even while a read hangs. Memory grows with the bytes read, never ahead of them.
std::string read(const std::filesystem::path& path, std::stop_token stop = {});
}  // namespace BackupFileReader

}  // namespace velto
