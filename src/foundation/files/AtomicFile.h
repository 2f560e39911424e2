#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "foundation/files/FileDescriptor.h"

namespace velto {

// How far a write has gone when it returns. `forced`: to the disk, so a power cut keeps it.
// `deferred`: to the system, which writes it back within seconds; a power cut before that
// leaves the file as it was before the write where the file system puts a renamed file's data
// first (ext4, btrfs), and may leave it empty elsewhere.
enum class Durability { forced, deferred };

// A file written piece by piece under a temporary name beside `path` (its folder created when
// missing) and renamed over `path` by commit(), so a reader sees the old or the new file, never
// a torn one. Left uncommitted, the temporary file is removed. Where `path` is a symbolic link
// to a regular file, that file is the one replaced, beside itself, and the link stays, unless
// `followLinks` is off; a link to anything else (a device, a pipe, nothing) is replaced itself.
// Throws std::system_error, with the system's error code.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(const std::filesystem::path& path, bool followLinks = true);
    // The file a write to `path` replaces.
    static std::filesystem::path destinationOf(const std::filesystem::path& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void append(std::string_view piece);
    // Replaces bytes already appended with as many others.
    void overwrite(std::uint64_t at, std::string_view piece);
    std::uint64_t size() const { return size_; }
    // Renames the file into place, having flushed it to the disk where `durability` asks.
    void commit(unsigned mode = 0600, Durability durability = Durability::forced);

  private:
    [[noreturn]] void fail(const char* what) const;

    std::filesystem::path path_;
    std::string temp_;
    FileDescriptor fd_;
    std::uint64_t size_ = 0;
    bool committed_ = false;
};

// The whole of `contents` through an AtomicFileWriter.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         unsigned mode = 0600, Durability durability = Durability::forced,
                         bool followLinks = true);

}  // namespace velto
