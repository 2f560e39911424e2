#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace velto {

// Timing marks of notable moments of a run: a "perf" log line and one tab-separated line
// (milliseconds since the first mark, name, detail; control characters escaped as in the log)
// appended to "perf.log". The caller never
// waits for the file: one writer thread appends the lines in the order of the marks. Only a
// regular file is written; marks past `maxQueuedLines` waiting for the writer are dropped.
class PerfLog {
public:
    static constexpr std::size_t maxQueuedLines = 4096;

    // Where the log file goes, asked once on the writer thread; none writes no file.
    using FileLocation = std::function<std::optional<std::filesystem::path>()>;
    // Seconds on a monotonic clock.
    using Uptime = std::function<double()>;

    PerfLog(FileLocation fileLocation, Uptime uptime);
    // Writes what is still queued, then stops the writer.
    ~PerfLog();
    PerfLog(const PerfLog&) = delete;
    PerfLog& operator=(const PerfLog&) = delete;

    void record(std::string_view name, std::string_view detail);
    // Blocks until every line recorded so far is written (or dropped).
    void waitUntilWritten();

    // Marks through the process-wide log, whose file is "perf.log" in the documents folder.
    static void mark(std::string_view name, std::string_view detail);
    static PerfLog& shared();
    static std::optional<std::filesystem::path> defaultFileLocation();
    static double systemUptime();

private:
    void run(std::stop_token stop);
    void append(const std::string& line);

    FileLocation fileLocation_;
    Uptime uptime_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::optional<double> startedAt_;
    std::deque<std::string> pending_;
    std::size_t dropped_ = 0;
    bool writing_ = false;
    // Touched only by the writer thread.
    std::optional<std::optional<std::filesystem::path>> file_;
    std::jthread writer_;
};

}  // namespace velto
