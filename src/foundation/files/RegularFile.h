#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "foundation/files/FileDescriptor.h"

namespace velto::RegularFile {

// Opens `path` with `flags` (O_CLOEXEC, O_NONBLOCK and O_NOCTTY added, so that a pipe or device
// under the name can neither hold the caller nor be read) and keeps it only when it is a
// regular file. Otherwise the descriptor is empty and errno says why: ENXIO for a file of
// another kind. `info`, when given, receives the file's status.
FileDescriptor open(const std::filesystem::path& path, int flags, struct stat* info = nullptr,
                    mode_t mode = 0);

// The rest of `fd`, read as it arrives, while it stays within `maxBytes`. None on a read error
// or past the limit (errno EFBIG then). Throws CancellationError on a stop between reads.
// `answered`, when given, runs after each read.
std::optional<std::string> readAll(int fd, std::size_t maxBytes, std::stop_token stop = {},
                                   const std::function<void()>& answered = {});

// The contents of a regular file of at most `maxBytes`; none for anything else (a folder, a
// device, a pipe, a larger file, a link when `followLinks` is off) or on a read error, errno
// saying which (EFBIG for a larger file). `answered`, when given, runs after each question to
// the file system (the opening, whatever it found, the look at the file, each read).
std::optional<std::string> read(const std::filesystem::path& path, std::size_t maxBytes,
                                bool followLinks = true, std::stop_token stop = {},
                                const std::function<void()>& answered = {});

}  // namespace velto::RegularFile
