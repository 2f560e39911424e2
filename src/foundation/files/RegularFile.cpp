#include "foundation/files/RegularFile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>

#include "foundation/Cancellation.h"

namespace velto::RegularFile {

namespace {

// Runs `answered`, keeping errno.
void report(const std::function<void()>& answered) {
    if (!answered) return;
    const int error = errno;
    answered();
    errno = error;
}

// The opening and the look at what was opened each ask the file system once.
FileDescriptor openReporting(const std::filesystem::path& path, int flags, struct stat* info,
                             mode_t mode, const std::function<void()>& answered) {
    FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode));
    report(answered);
    if (!fd) return fd;
    struct stat found {};
    const bool known = ::fstat(fd.get(), &found) == 0;
    report(answered);
    if (info) *info = found;
    if (known && S_ISREG(found.st_mode)) return fd;
    const int error = known ? ENXIO : errno;
    fd.close();
    errno = error;
    return {};
}

}  // namespace

FileDescriptor open(const std::filesystem::path& path, int flags, struct stat* info, mode_t mode) {
    return openReporting(path, flags, info, mode, {});
}

std::optional<std::string> readAll(int fd, std::size_t maxBytes, std::stop_token stop,
                                   const std::function<void()>& answered) {
    std::string data;
    char buffer[65536];
    for (;;) {
        throwIfCancelled(stop);
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        report(answered);
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (count == 0) return data;
        data.append(buffer, static_cast<std::size_t>(count));
        if (data.size() > maxBytes) {
            errno = EFBIG;
            return std::nullopt;
        }
    }
}

std::optional<std::string> read(const std::filesystem::path& path, std::size_t maxBytes,
                                bool followLinks, std::stop_token stop,
                                const std::function<void()>& answered) {
    struct stat info {};
    FileDescriptor fd =
        openReporting(path, O_RDONLY | (followLinks ? 0 : O_NOFOLLOW), &info, 0, answered);
    if (!fd) return std::nullopt;
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) {
        errno = EFBIG;
        return std::nullopt;
    }
    return readAll(fd.get(), maxBytes, stop, answered);
}

}  // namespace velto::RegularFile
