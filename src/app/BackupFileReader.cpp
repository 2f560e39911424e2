#include "app/BackupFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "foundation/AbandonableWork.h"
#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "library/PlaylistBackup.h"
#include "library/PlaylistBackupError.h"

namespace velto::BackupFileReader {

namespace {

[[noreturn]] void unreadable(const std::string& why, const std::filesystem::path& path) {
    Log::error("app", "backup " + why + ": " + path.string());
    throw PlaylistBackupError(PlaylistBackupError::Kind::invalidFile);
}

std::string readBounded(const std::filesystem::path& path, std::stop_token stop) {
    constexpr std::size_t limit = PlaylistBackup::maximumFileSize;
    // Non-blocking, so that a pipe under the chosen name is refused rather than waited for.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) unreadable("could not be opened", path);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        unreadable("is not a readable regular file", path);
    if (std::uint64_t(info.st_size) > limit)
        throw PlaylistBackupError(PlaylistBackupError::Kind::tooLarge);
    // The file may have grown since its size was read: one byte past the limit tells.
    std::string bytes(limit + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        throwIfCancelled(stop);
        const std::size_t chunk = std::min<std::size_t>(bytes.size() - filled, 1 << 20);
        const ssize_t got = ::read(fd, bytes.data() + filled, chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) unreadable("could not be read", path);
        if (got == 0) break;
        filled += std::size_t(got);
    }
    if (filled > limit) throw PlaylistBackupError(PlaylistBackupError::Kind::tooLarge);
    bytes.resize(filled);
    return bytes;
}

}  // namespace

std::string read(const std::filesystem::path& path, std::stop_token stop) {
    try {
        // A file on a share that stopped answering holds its read; a stop still frees the caller.
        return AbandonableWork::shared().run<std::string>(
            stop, [path](std::stop_token stop) { return readBounded(path, stop); });
    } catch (const AbandonableWork::Refused&) {
        unreadable("not read, too many reads held up", path);
    }
}

}  // namespace velto::BackupFileReader
