#include "foundation/files/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace velto {

AtomicFileWriter::AtomicFileWriter(const std::filesystem::path& path, bool followLinks)
    : path_(followLinks ? destinationOf(path) : path), temp_(path_.string() + ".tmp-XXXXXX") {
    std::error_code ignored;
    if (path_.has_parent_path()) std::filesystem::create_directories(path_.parent_path(), ignored);
    fd_ = FileDescriptor(::mkstemp(temp_.data()));
    if (!fd_) fail("create");
}

std::filesystem::path AtomicFileWriter::destinationOf(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error)) ||
        !std::filesystem::is_regular_file(std::filesystem::status(path, error)))
        return path;
    std::filesystem::path at = path;
    // As many links as the kernel follows (it found a file at their end).
    for (int links = 0; links < 40; ++links) {
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, error))) return at;
        const std::filesystem::path target = std::filesystem::read_symlink(at, error);
        if (error) break;
        // A relative target starts at the link's folder.
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return path;
}

AtomicFileWriter::~AtomicFileWriter() {
    if (committed_) return;
    fd_.close();
    ::unlink(temp_.c_str());
}

void AtomicFileWriter::append(std::string_view piece) {
    while (!piece.empty()) {
        const ssize_t count = ::write(fd_.get(), piece.data(), piece.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) fail("write");
        piece.remove_prefix(std::size_t(count));
        size_ += std::uint64_t(count);
    }
}

void AtomicFileWriter::overwrite(std::uint64_t at, std::string_view piece) {
    if (::pwrite(fd_.get(), piece.data(), piece.size(), off_t(at)) != ssize_t(piece.size()))
        fail("write");
}

void AtomicFileWriter::commit(unsigned mode, Durability durability) {
    ::fchmod(fd_.get(), mode_t(mode));
    const bool flushed = durability != Durability::forced || ::fsync(fd_.get()) == 0;
    if (!fd_.close() || !flushed) fail("flush");
    if (::rename(temp_.c_str(), path_.c_str()) != 0) fail("rename");
    committed_ = true;
    // The rename itself reaches the disk with its folder.
    if (durability == Durability::forced) {
        const std::filesystem::path folder =
            path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
        if (FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir)
            ::fsync(dir.get());
    }
}

void AtomicFileWriter::fail(const char* what) const {
    throw std::system_error(errno, std::generic_category(),
                            std::string("cannot ") + what + " " + temp_);
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         unsigned mode, Durability durability, bool followLinks) {
    AtomicFileWriter writer(path, followLinks);
    writer.append(contents);
    writer.commit(mode, durability);
}

}  // namespace velto
