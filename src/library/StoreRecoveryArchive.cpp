#include "library/StoreRecoveryArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "foundation/Base64.h"
#include "foundation/Log.h"

namespace velto {

namespace {

using RecoveryError = StoreRecoveryArchive::RecoveryError;
using FileError = StoreRecoveryArchive::FileError;
using Stage = StoreRecoveryArchive::Stage;

constexpr const char* logCategory = "library";

struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

using StampSet = std::map<std::string, FileStamp>;

[[noreturn]] void failFile(const std::filesystem::path& path, int error, const char* what) {
    const std::error_code code(error, std::generic_category());
    Log::error(logCategory, std::string("recovery archive: ") + what + " " + path.string() +
                                " failed: " + code.message());
    throw FileError(code);
}

std::vector<std::filesystem::path> candidates(const std::filesystem::path& store) {
    return {store, std::filesystem::path(store.string() + "-wal"),
            std::filesystem::path(store.string() + "-shm")};
}

bool present(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

StampSet takeStamps(const std::filesystem::path& store) {
    StampSet stamps;
    for (const auto& path : candidates(store)) {
        if (!present(path)) continue;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) failFile(path, errno, "stat");
        if (!S_ISREG(info.st_mode)) throw RecoveryError(RecoveryError::Kind::unreadable);
        stamps[path.filename().string()] = {static_cast<std::uint64_t>(info.st_size),
                                            static_cast<std::int64_t>(info.st_mtim.tv_sec),
                                            info.st_mtim.tv_nsec};
    }
    return stamps;
}

std::string readWhole(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) failFile(path, errno, "open");
    std::string data;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) data.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    while (true) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            failFile(path, error, "read");
        }
        data.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fd);
    return data;
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(time));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace

StoreRecoveryArchive::RecoveryError::RecoveryError(Kind kind)
    : std::runtime_error(std::string(description(kind))), kind_(kind) {}

std::string_view StoreRecoveryArchive::RecoveryError::description(Kind kind) {
    switch (kind) {
        case Kind::noFiles:
            return "未找到可导出的资料文件，请重试打开资料库。";
        case Kind::changed:
            return "资料文件发生变化，请重新导出。";
        case Kind::unreadable:
            return "暂时无法读取资料文件，请稍后重试。";
    }
    return {};
}

StoreRecoveryArchive::FileError::FileError(std::error_code code)
    : std::runtime_error(std::string(RecoveryError::description(RecoveryError::Kind::unreadable))),
      code_(code) {}

std::string StoreRecoveryArchive::encoded() const {
    // Written by hand in field order so that the Base64 text is the only copy of the data.
    std::size_t size = 128;
    for (const auto& file : files) size += file.name.size() + (file.data.size() + 2) / 3 * 4 + 32;
    std::string out;
    out.reserve(size);
    out += "{\"format\":" + nlohmann::json(format).dump();
    out += ",\"version\":" + std::to_string(version);
    out += ",\"createdAt\":\"" + isoTime(createdAt) + "\"";
    out += ",\"files\":[";
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0) out += ',';
        out += "{\"name\":" + nlohmann::json(files[i].name).dump() + ",\"data\":\"";
        // Whole groups of three bytes encode without padding, so pieces join seamlessly.
        const std::string_view data = files[i].data;
        constexpr std::size_t piece = 3 * 16 * 1024;
        for (std::size_t at = 0; at < data.size(); at += piece) out += Base64::encode(data.substr(at, piece));
        out += "\"}";
    }
    out += "]}";
    return out;
}

std::string StoreRecoveryArchive::capture(const std::filesystem::path& storePath,
                                          const std::function<void(Stage)>& observe) {
    auto notify = [&observe](Stage stage) {
        if (observe) observe(stage);
    };
    std::vector<std::filesystem::path> listed;
    for (const auto& path : candidates(storePath)) {
        if (present(path)) listed.push_back(path);
    }
    if (listed.empty()) throw RecoveryError(RecoveryError::Kind::noFiles);
    notify(Stage::listed);

    const StampSet before = takeStamps(storePath);
    notify(Stage::stamped);
    StoreRecoveryArchive archive;
    for (const auto& path : listed) archive.files.push_back({path.filename().string(), readWhole(path)});
    notify(Stage::read);
    const StampSet after = takeStamps(storePath);

    if (after != before || archive.files.size() != before.size())
        throw RecoveryError(RecoveryError::Kind::changed);
    for (const auto& file : archive.files) {
        auto stamp = before.find(file.name);
        if (stamp == before.end() || stamp->second.size != file.data.size())
            throw RecoveryError(RecoveryError::Kind::changed);
    }
    archive.createdAt = std::chrono::system_clock::now();
    return archive.encoded();
}

}  // namespace velto
