#include "artwork/ArtworkDiskCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <vector>

#include "foundation/files/FileDescriptor.h"
#include "foundation/Log.h"
#include "foundation/files/RegularFile.h"

namespace velto::ArtworkDiskCache {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view logCategory = "artwork";

std::int64_t nanosecondsOf(ArtworkDate date) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
}

ArtworkDate dateOf(const struct timespec& time) {
    const auto ns = std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
    return ArtworkDate(std::chrono::duration_cast<ArtworkDate::duration>(ns));
}

struct timespec timespecOf(ArtworkDate date) {
    const std::int64_t ns = nanosecondsOf(date);
    std::int64_t seconds = ns / 1'000'000'000;
    std::int64_t rest = ns % 1'000'000'000;
    if (rest < 0) {
        rest += 1'000'000'000;
        --seconds;
    }
    return {static_cast<time_t>(seconds), static_cast<long>(rest)};
}

// Absent: no creation date (then the mtime counts). Set but not a date: none at all.
enum class Created { absent, malformed, present };

Created readCreated(int fd, ArtworkDate& date) {
    char text[32];
    const ssize_t length = ::fgetxattr(fd, createdAttribute.data(), text, sizeof text);
    if (length < 0) return errno == ERANGE ? Created::malformed : Created::absent;
    std::int64_t ns = 0;
    const auto [end, error] = std::from_chars(text, text + length, ns);
    if (error != std::errc() || end != text + length || length == 0) return Created::malformed;
    date = ArtworkDate(std::chrono::duration_cast<ArtworkDate::duration>(std::chrono::nanoseconds(ns)));
    return Created::present;
}

void noteRefusedAttributes(int error) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) {
        Log::error(logCategory, std::string("cache files cannot carry a creation date (") +
                                    std::strerror(error) +
                                    "); their modification date stands in for it");
    }
}

// A deletion of `path` that spares whatever was written under the name after `info` was taken.
std::function<void()> deletionOf(const fs::path& path, const struct stat& info) {
    return [path, device = info.st_dev, inode = info.st_ino] {
        struct stat now{};
        if (::lstat(path.c_str(), &now) == 0 && now.st_dev == device && now.st_ino == inode)
            ::unlink(path.c_str());
    };
}

}  // namespace

std::optional<Hit> read(const fs::path& file, ArtworkDate now,
                        const std::function<ArtworkImagePtr(std::string_view)>& decode,
                        const Deletion& deletion) {
    struct stat info{};
    const FileDescriptor fd = RegularFile::open(file, O_RDONLY | O_NOFOLLOW, &info);
    if (!fd) {
        if (errno != ENOENT && ::lstat(file.c_str(), &info) == 0) deletion(deletionOf(file, info));
        return std::nullopt;
    }
    auto usable = [&]() -> std::optional<Hit> {
        if (static_cast<std::uint64_t>(info.st_size) > maximumFileBytes) return std::nullopt;
        ArtworkDate stamp = dateOf(info.st_mtim);
        if (readCreated(fd.get(), stamp) == Created::malformed) return std::nullopt;
        auto data = RegularFile::readAll(fd.get(), maximumFileBytes);
        if (!data) return std::nullopt;
        ArtworkImagePtr image = decode(*data);
        if (!image) return std::nullopt;
        return Hit{std::move(image), stamp};
    }();
    if (!usable) {
        deletion(deletionOf(file, info));
        return std::nullopt;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, timespecOf(now)};
    ::futimens(fd.get(), times);
    return usable;
}

void write(const fs::path& file, std::string_view bytes, ArtworkDate date) {
    // The temporary name ends in ".img" too, so one left by a crash is trimmed like the others.
    std::string name = (file.parent_path() / ".XXXXXX.img").string();
    FileDescriptor fd(::mkstemps(name.data(), 4));
    if (!fd) return;
    bool written = true;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t count = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            written = false;
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    if (written) {
        const std::string stamp = std::to_string(nanosecondsOf(date));
        if (::fsetxattr(fd.get(), createdAttribute.data(), stamp.data(), stamp.size(), 0) != 0)
            noteRefusedAttributes(errno);
        const struct timespec times[2] = {timespecOf(date), timespecOf(date)};
        ::futimens(fd.get(), times);
        written = ::rename(name.c_str(), file.c_str()) == 0;
    }
    if (!written) ::unlink(name.c_str());
}

void trim(const fs::path& directory, std::int64_t limit,
          const std::function<bool(const fs::path&)>& remove) {
    struct Candidate {
        fs::path path;
        std::int64_t size;
        std::int64_t modified;
    };
    std::vector<Candidate> candidates;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension() != ".img") continue;
        struct stat info{};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const std::int64_t size = info.st_size;
        if (size < 1 || limit <= 0 || size > limit) {
            remove(path);
            continue;
        }
        candidates.push_back({path, size, nanosecondsOf(dateOf(info.st_mtim))});
    }
    std::int64_t total = 0;
    for (const auto& candidate : candidates) total += candidate.size;
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        if (a.modified != b.modified) return a.modified < b.modified;
        return a.path.native() < b.path.native();
    });
    for (const auto& candidate : candidates) {
        if (total <= limit) break;
        if (remove(candidate.path)) total -= candidate.size;
    }
}

void trim(const fs::path& directory, std::int64_t limit) {
    trim(directory, limit, [](const fs::path& path) { return ::unlink(path.c_str()) == 0; });
}

}  // namespace velto::ArtworkDiskCache
