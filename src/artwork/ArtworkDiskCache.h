#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "artwork/ArtworkImage.h"

namespace velto {

using ArtworkDate = std::chrono::system_clock::time_point;

// The file-level half of the artwork cache. Every operation blocks (workers only) and reports
// no failure: a file that cannot be read, written, dated or deleted is passed over.
//
// A cache file's creation date, which Linux cannot set, is kept in the extended attribute
// "user.velto.created" (nanoseconds since 1970 as decimal text); its modification date is the
// file's mtime. Where user attributes are refused the creation date falls back to the mtime.
namespace ArtworkDiskCache {

// Files larger than this are never read whole: side files, cache files and downloads alike.
inline constexpr std::size_t maximumFileBytes = 16 * 1024 * 1024;
inline constexpr std::string_view createdAttribute = "user.velto.created";

struct Hit {
    ArtworkImagePtr image;
    ArtworkDate stamp;  // creation date, else modification date
};

// Runs a deletion: at once, or later on the one queue that writes the folder.
using Deletion = std::function<void(std::function<void()>)>;

// Reads and decodes the cache file. A usable one has its modification date set to `now`; an
// unusable one (not a regular file, too large, undecodable, empty, or with an unreadable creation
// date) is deleted through `deletion` and none returned; the deletion spares a file written
// under the name since. A missing file gives none.
std::optional<Hit> read(const std::filesystem::path& file, ArtworkDate now,
                        const std::function<ArtworkImagePtr(std::string_view)>& decode,
                        const Deletion& deletion = [](std::function<void()> job) { job(); });

// Writes `bytes` through a temporary file in the same folder, dated `date` (creation and
// modification) before it is renamed into place.
void write(const std::filesystem::path& file, std::string_view bytes, ArtworkDate date);

// Deletes ".img" files of the folder, oldest modification first (ties by path), until their
// total is at most `limit`; empty files and files over the limit go at once. Links, folders and
// other names are left alone. `remove` answers whether the deletion succeeded.
void trim(const std::filesystem::path& directory, std::int64_t limit,
          const std::function<bool(const std::filesystem::path&)>& remove);
void trim(const std::filesystem::path& directory, std::int64_t limit);

}  // namespace ArtworkDiskCache
}  // namespace velto
