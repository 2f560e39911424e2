#pragma once

#include <filesystem>
#include <string_view>

namespace velto {

// How far a write has gone when it returns. `forced`: to the disk, so a power cut keeps it.
// `deferred`: to the system, which writes it back within seconds; a power cut before that
// leaves the file as it was before the write where the file system puts a renamed file's data
// first (ext4, btrfs), and may leave it empty elsewhere.
enum class Durability { forced, deferred };

// Writes `contents` to a temporary file beside `path` and renames it over `path`, so a reader
// sees the old or the new file, never a torn one. Throws std::runtime_error.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         unsigned mode = 0600, Durability durability = Durability::forced);

}  // namespace velto
