#include "playback/PerfLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <utility>

#include "foundation/files/FileDescriptor.h"
#include "foundation/Log.h"
#include "foundation/files/Paths.h"
#include "foundation/files/RegularFile.h"

namespace velto {

PerfLog::PerfLog(FileLocation fileLocation, Uptime uptime)
    : fileLocation_(std::move(fileLocation)), uptime_(std::move(uptime)) {
    writer_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

PerfLog::~PerfLog() {
    writer_.request_stop();
    writer_.join();
}

void PerfLog::record(std::string_view name, std::string_view detail) {
    const double now = uptime_();
    std::int64_t milliseconds = 0;
    {
        std::lock_guard lock(mutex_);
        // The first mark of a run reads 0, however late it comes.
        if (!startedAt_) startedAt_ = now;
        milliseconds = static_cast<std::int64_t>((now - *startedAt_) * 1000);
        // Escaped like the log, so a name or detail from outside (a file name) keeps its line
        // to itself and its three fields.
        std::string line = std::to_string(milliseconds);
        line.append("\t").append(Log::escaped(name)).append("\t").append(Log::escaped(detail));
        line.append("\n");
        // A writer held up by the file must not let the queue grow without end.
        if (pending_.size() < maxQueuedLines) {
            pending_.push_back(std::move(line));
        } else if (dropped_++ == 0) {
            Log::error("perf", "perf.log falls behind, marks are dropped");
        }
    }
    changed_.notify_all();
    std::string message = "perf ";
    message.append(name).append(" ").append(detail).append(" at ");
    message.append(std::to_string(milliseconds)).append("ms");
    Log::info("perf", message);
}

void PerfLog::waitUntilWritten() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_.empty() && !writing_; });
}

void PerfLog::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (true) {
        // Lines queued before the stop are still written.
        changed_.wait(lock, stop, [&] { return !pending_.empty(); });
        if (pending_.empty()) return;
        std::string line = std::move(pending_.front());
        pending_.pop_front();
        writing_ = true;
        lock.unlock();
        append(line);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

void PerfLog::append(const std::string& line) {
    if (!file_) file_ = fileLocation_ ? fileLocation_() : std::nullopt;
    if (!*file_) return;
    // Append mode only: an existing log is never cut, a missing one is created. Non-blocking,
    // so that a pipe under the log's name can neither hold the writer nor be written.
    const FileDescriptor fd = RegularFile::open(**file_, O_WRONLY | O_APPEND | O_CREAT, nullptr, 0644);
    if (!fd) {
        if (errno == ENXIO) {
            Log::error("perf", "perf.log is not a regular file, no marks are written to it");
            *file_ = std::nullopt;
        }
        return;
    }
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd.get(), data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void PerfLog::mark(std::string_view name, std::string_view detail) {
    shared().record(name, detail);
}

PerfLog& PerfLog::shared() {
    static PerfLog log(defaultFileLocation, systemUptime);
    return log;
}

std::optional<std::filesystem::path> PerfLog::defaultFileLocation() {
    auto directory = Paths::documentsDir();
    if (directory.empty()) return std::nullopt;
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (!std::filesystem::is_directory(directory, ec)) return std::nullopt;
    return directory / "perf.log";
}

double PerfLog::systemUptime() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace velto
