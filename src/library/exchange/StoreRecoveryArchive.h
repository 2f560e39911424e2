#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace velto {

// A raw copy of the library's store files (the store and its "-wal" and "-shm" companions) in
// one JSON document "velto-store-recovery", version 1, for recovery by hand. The store is read
// as it lies, without locking or checkpointing: file stamps taken before and after the copy
// must agree, else nothing is produced.
struct StoreRecoveryArchive {
    struct File {
        std::string name;  // the copied file's last path component
        std::string data;  // its bytes
    };

    class RecoveryError : public std::runtime_error {
    public:
        enum class Kind { noFiles, changed, unreadable };
        explicit RecoveryError(Kind kind);
        Kind kind() const { return kind_; }
        static std::string_view description(Kind kind);

    private:
        Kind kind_;
    };

    // A file that could not be examined or read. Shows unreadable's text; the system's reason
    // goes to the log and stays available here.
    class FileError : public std::runtime_error {
    public:
        explicit FileError(std::error_code code);
        std::error_code code() const { return code_; }

    private:
        std::error_code code_;
    };

    // Moments of a capture at which tests may disturb the files.
    enum class Stage { listed, stamped, read };

    std::string format = "velto-store-recovery";
    int version = 1;
    std::chrono::system_clock::time_point createdAt;
    std::vector<File> files;

    // The document's bytes: dates in ISO 8601 (UTC, whole seconds, "Z"), file data in Base64.
    std::string encoded() const;

    // Archives the store at `storePath`. Throws RecoveryError or FileError; writes nothing.
    static std::string capture(const std::filesystem::path& storePath,
                               const std::function<void(Stage)>& observe = {});
    // The same document streamed into a file that replaces `destination` once complete, in
    // memory that does not grow with the store. Throws as capture does, CancellationError on a
    // stop, and std::runtime_error when the destination cannot be written; on any failure the
    // destination is left as it was.
    static void captureTo(const std::filesystem::path& storePath,
                          const std::filesystem::path& destination, std::stop_token stop = {},
                          const std::function<void(Stage)>& observe = {});
};

}  // namespace velto
