#pragma once

#include <filesystem>
#include <string_view>

namespace velto {

// Writes `contents` to a temporary file beside `path`, flushes it and renames it over `path`,
// so a reader sees the old or the new file, never a torn one. Throws std::runtime_error.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         unsigned mode = 0600);

}  // namespace velto
