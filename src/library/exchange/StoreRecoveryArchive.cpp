#include "library/exchange/StoreRecoveryArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "foundation/files/AtomicFile.h"
#include "foundation/text/Base64.h"
#include "foundation/Cancellation.h"
#include "foundation/files/FileDescriptor.h"
#include "foundation/Log.h"
#include "foundation/files/RegularFile.h"

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

// Where the document goes as it is made: appended piece by piece, with room kept for the one
// field known only at the end.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void append(std::string_view text) = 0;
    virtual std::uint64_t size() const = 0;
    // Replaces bytes already appended with as many others.
    virtual void overwrite(std::uint64_t at, std::string_view text) = 0;
};

class TextSink final : public Sink {
public:
    std::string text;
    void append(std::string_view piece) override { text.append(piece); }
    std::uint64_t size() const override { return text.size(); }
    void overwrite(std::uint64_t at, std::string_view piece) override {
        text.replace(std::size_t(at), piece.size(), piece);
    }
};

// A file that replaces the destination once complete. Its failures are plain runtime errors,
// told apart from the store's own.
class FileSink final : public Sink {
public:
    explicit FileSink(const std::filesystem::path& destination) : file(destination) {}
    void append(std::string_view piece) override { file.append(piece); }
    std::uint64_t size() const override { return file.size(); }
    void overwrite(std::uint64_t at, std::string_view piece) override { file.overwrite(at, piece); }
    AtomicFileWriter file;
};

// Appends the file's bytes as Base64, a bounded piece at a time; returns how many were read.
std::uint64_t copyAsBase64(const std::filesystem::path& path, Sink& sink,
                           const std::stop_token& stop) {
    const FileDescriptor fd = RegularFile::open(path, O_RDONLY);
    if (!fd) failFile(path, errno, "open");
    // Whole groups of three bytes encode without padding, so pieces join seamlessly.
    constexpr std::size_t piece = 3 * 16 * 1024;
    std::string buffer(piece, '\0');
    std::size_t held = 0;
    std::uint64_t total = 0;
    while (true) {
        throwIfCancelled(stop);
        const ssize_t count = ::read(fd.get(), buffer.data() + held, buffer.size() - held);
        if (count < 0) {
            if (errno == EINTR) continue;
            failFile(path, errno, "read");
        }
        if (count == 0) break;
        held += std::size_t(count);
        total += std::uint64_t(count);
        const std::size_t whole = held / 3 * 3;
        sink.append(Base64::encode(std::string_view(buffer.data(), whole)));
        buffer.erase(0, whole);
        buffer.resize(piece, '\0');
        held -= whole;
    }
    if (held > 0) sink.append(Base64::encode(std::string_view(buffer.data(), held)));
    return total;
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

namespace {

// The placeholder stands in for "createdAt" until every check has passed; it has the length of
// every time from the year 1000 to 9999.
constexpr std::string_view createdAtPlaceholder = "0000-00-00T00:00:00Z";

void writeDocument(const std::filesystem::path& storePath, Sink& sink,
                   const std::function<void(Stage)>& observe, const std::stop_token& stop) {
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
    // Written by hand in field order, straight from the files, so that no copy of the data is
    // ever held whole.
    const StoreRecoveryArchive fields;
    sink.append("{\"format\":" + nlohmann::json(fields.format).dump());
    sink.append(",\"version\":" + std::to_string(fields.version));
    sink.append(",\"createdAt\":\"");
    const std::uint64_t createdAt = sink.size();
    sink.append(createdAtPlaceholder);
    sink.append("\",\"files\":[");
    std::vector<std::pair<std::string, std::uint64_t>> copied;
    for (const auto& path : listed) {
        const std::string name = path.filename().string();
        sink.append(std::string(copied.empty() ? "" : ",") + "{\"name\":" +
                    nlohmann::json(name).dump() + ",\"data\":\"");
        copied.emplace_back(name, copyAsBase64(path, sink, stop));
        sink.append("\"}");
    }
    sink.append("]}");
    notify(Stage::read);
    const StampSet after = takeStamps(storePath);

    if (after != before || copied.size() != before.size())
        throw RecoveryError(RecoveryError::Kind::changed);
    for (const auto& [name, size] : copied) {
        auto stamp = before.find(name);
        if (stamp == before.end() || stamp->second.size != size)
            throw RecoveryError(RecoveryError::Kind::changed);
    }
    const std::string now = isoTime(std::chrono::system_clock::now());
    if (now.size() != createdAtPlaceholder.size())
        throw std::runtime_error("recovery archive: creation time out of range: " + now);
    sink.overwrite(createdAt, now);
}

}  // namespace

std::string StoreRecoveryArchive::capture(const std::filesystem::path& storePath,
                                          const std::function<void(Stage)>& observe) {
    TextSink sink;
    writeDocument(storePath, sink, observe, {});
    return std::move(sink.text);
}

void StoreRecoveryArchive::captureTo(const std::filesystem::path& storePath,
                                     const std::filesystem::path& destination,
                                     std::stop_token stop,
                                     const std::function<void(Stage)>& observe) {
    FileSink sink(destination);
    writeDocument(storePath, sink, observe, stop);
    sink.file.commit(0644);
}

}  // namespace velto
