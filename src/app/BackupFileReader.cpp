#include "app/BackupFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include "foundation/files/AbandonableWork.h"
#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "foundation/files/RegularFile.h"
#include "library/exchange/PlaylistBackup.h"
#include "library/exchange/PlaylistBackupError.h"

namespace velto::BackupFileReader {

namespace {

[[noreturn]] void unreadable(const std::string& why, const std::filesystem::path& path) {
    Log::error("app", "backup " + why + ": " + path.string());
    throw PlaylistBackupError(PlaylistBackupError::Kind::invalidFile);
}

std::string readBounded(const std::filesystem::path& path, std::stop_token stop) {
    constexpr std::size_t limit = PlaylistBackup::maximumFileSize;
    struct stat info{};
    const FileDescriptor fd = RegularFile::open(path, O_RDONLY, &info);
    if (!fd) unreadable("is not a readable regular file", path);
    if (std::uint64_t(info.st_size) > limit)
        throw PlaylistBackupError(PlaylistBackupError::Kind::tooLarge);
    // The file may have grown since its size was read.
    auto bytes = RegularFile::readAll(fd.get(), limit, stop);
    if (!bytes && errno == EFBIG) throw PlaylistBackupError(PlaylistBackupError::Kind::tooLarge);
    if (!bytes) unreadable("could not be read", path);
    return std::move(*bytes);
}

}  // namespace

std::string read(const std::filesystem::path& path, std::stop_token stop) {
    try {
        // A file on a share that stopped answering holds its read; a stop or the bound still
        // frees the caller.
        return AbandonableWork::shared().run<std::string>(
            stop, [path](std::stop_token stop) { return readBounded(path, stop); }, path);
    } catch (const AbandonableWork::Busy& busy) {
        unreadable(std::string("not read (") + busy.what() + ")", path);
    }
}

}  // namespace velto::BackupFileReader
