#include "app/BackupFileReader.h"

#include <fstream>

#include "foundation/Log.h"
#include "library/PlaylistBackup.h"
#include "library/PlaylistBackupError.h"

namespace velto::BackupFileReader {

std::string read(const std::filesystem::path& path) {
    constexpr std::size_t limit = PlaylistBackup::maximumFileSize;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) {
        Log::error("app", "backup is not a readable regular file: " + path.string());
        throw PlaylistBackupError(PlaylistBackupError::Kind::invalidFile);
    }
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > limit) throw PlaylistBackupError(PlaylistBackupError::Kind::tooLarge);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Log::error("app", "backup could not be opened: " + path.string());
        throw PlaylistBackupError(PlaylistBackupError::Kind::invalidFile);
    }
    // The file may have grown since its size was read: one byte past the limit tells.
    std::string bytes(limit + 1, '\0');
    in.read(bytes.data(), std::streamsize(bytes.size()));
    if (in.bad()) throw PlaylistBackupError(PlaylistBackupError::Kind::invalidFile);
    bytes.resize(std::size_t(in.gcount()));
    if (bytes.size() > limit) throw PlaylistBackupError(PlaylistBackupError::Kind::tooLarge);
    return bytes;
}

}  // namespace velto::BackupFileReader
