#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "playback/PerfLog.h"
#include "support/TempDir.h"

using namespace velto;

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

struct CapturedLog {
    CapturedLog() {
        Log::setSink([this](Log::Level level, std::string_view category, std::string_view message) {
            lines.push_back(std::string(level == Log::Level::info ? "info " : "other ") +
                            std::string(category) + ": " + std::string(message));
        });
    }
    ~CapturedLog() { Log::setSink({}); }
    std::vector<std::string> lines;
};

// A clock the test moves by hand.
struct ManualUptime {
    std::shared_ptr<std::atomic<double>> seconds = std::make_shared<std::atomic<double>>(0);
    PerfLog::Uptime function() const {
        return [seconds = seconds] { return seconds->load(); };
    }
};

PerfLog::FileLocation at(const std::filesystem::path& path) {
    return [path] { return std::optional(path); };
}

}  // namespace

TEST(PerfLog, MillisecondsCountFromTheFirstMarkAndLinesKeepTheirFields) {
    TempDir dir;
    const auto file = dir.path() / "perf.log";
    CapturedLog log;
    ManualUptime clock;
    clock.seconds->store(5000.25);  // long after the machine started
    {
        PerfLog perf(at(file), clock.function());
        perf.record("mac_launch", "");
        clock.seconds->store(5000.25 + 0.0129);
        perf.record("load_start", "normal");
        clock.seconds->store(5001.25 + 1.9999);
        // A detail from outside (a file name) keeps to its own line and field.
        perf.record("url_ready", "a\tb\n0\tforged");
        perf.waitUntilWritten();
        EXPECT_EQ(readFile(file), "0\tmac_launch\t\n12\tload_start\tnormal\n"
                                  "2999\turl_ready\ta\\tb\\n0\\tforged\n");
    }
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"info perf: perf mac_launch  at 0ms",
                                        "info perf: perf load_start normal at 12ms",
                                        "info perf: perf url_ready a\\tb\\n0\\tforged at 2999ms"}));
}

TEST(PerfLog, AppendsToAnExistingLogAndCreatesAMissingOne) {
    TempDir dir;
    const auto file = dir.path() / "perf.log";
    ManualUptime clock;
    {
        PerfLog perf(at(file), clock.function());
        perf.record("item_ready", "");
        perf.waitUntilWritten();
        EXPECT_EQ(readFile(file), "0\titem_ready\t\n");
    }
    // A new run counts from 0 again and never cuts what earlier runs wrote.
    clock.seconds->store(77);
    {
        PerfLog perf(at(file), clock.function());
        perf.record("mac_launch", "");
        clock.seconds->store(77.5);
        perf.record("load_start", "refresh");
    }
    EXPECT_EQ(readFile(file), "0\titem_ready\t\n0\tmac_launch\t\n500\tload_start\trefresh\n");
}

TEST(PerfLog, AnUnwritableLogLosesOnlyTheFileLine) {
    TempDir dir;
    const auto file = dir.path() / "perf.log";
    std::filesystem::create_directory(file);  // a folder where the file should be
    CapturedLog log;
    ManualUptime clock;
    {
        PerfLog perf(at(file), clock.function());
        perf.record("load_start", "normal");
        perf.waitUntilWritten();
    }
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_EQ(log.lines.size(), 1u);

    PerfLog nowhere([] { return std::optional<std::filesystem::path>(); }, clock.function());
    nowhere.record("mac_launch", "");
    nowhere.waitUntilWritten();
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(PerfLog, ManyMarksReachTheFileInCallOrder) {
    TempDir dir;
    const auto file = dir.path() / "perf.log";
    ManualUptime clock;
    std::string expected;
    {
        PerfLog perf(at(file), clock.function());
        for (int i = 0; i < 500; ++i) {
            // Half a millisecond past each whole one, so truncation gives exactly i.
            clock.seconds->store(i == 0 ? 0.0 : (i + 0.5) / 1000.0);
            perf.record("mark", std::to_string(i));
            expected += std::to_string(i) + "\tmark\t" + std::to_string(i) + "\n";
        }
    }
    EXPECT_EQ(readFile(file), expected);
}

TEST(PerfLog, SharedLogWritesIntoTheDocumentsFolder) {
    TempDir dir;
    const auto documents = dir.path() / "Documents";
    setenv("XDG_DOCUMENTS_DIR", documents.c_str(), 1);
    EXPECT_EQ(PerfLog::defaultFileLocation(), documents / "perf.log");
    EXPECT_TRUE(std::filesystem::is_directory(documents));
    PerfLog::mark("mac_launch", "");
    PerfLog::mark("load_start", "normal");
    PerfLog::shared().waitUntilWritten();
    const auto content = readFile(documents / "perf.log");
    EXPECT_EQ(content.substr(0, 13), "0\tmac_launch\t");
    EXPECT_NE(content.find("\tload_start\tnormal\n"), std::string::npos);
    unsetenv("XDG_DOCUMENTS_DIR");
}

TEST(PerfLog, APipeUnderTheLogsNameIsNeitherWaitedForNorWritten) {
    // Without a reader the open used to block for good, and the program could not exit.
    for (bool reader : {false, true}) {
        TempDir dir;
        const auto pipe = dir.path() / "perf.log";
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        const int readEnd = reader ? ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        ManualUptime clock;
        {
            PerfLog perf(at(pipe), clock.function());
            perf.record("mac_launch", "");
            perf.record("load_start", "normal");
        }
        if (reader) {
            char byte = 0;
            EXPECT_LE(::read(readEnd, &byte, 1), 0);
            ::close(readEnd);
        }
    }
}

TEST(PerfLog, MarksWaitingForAHeldUpWriterAreBounded) {
    TempDir dir;
    const auto file = dir.path() / "perf.log";
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::size_t marks = PerfLog::maxQueuedLines + 100;
    {
        // The writer asks where the file goes on its first line and is held there.
        PerfLog perf([&] { released.wait(); return std::optional(file); }, ManualUptime().function());
        for (std::size_t i = 0; i < marks; ++i) perf.record("mark", std::to_string(i));
        release.set_value();
    }
    // The earliest marks are kept, in order; at most one more than the queue holds was taken.
    std::ifstream in(file);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line); ++count)
        EXPECT_EQ(line, "0\tmark\t" + std::to_string(count));
    EXPECT_GE(count, PerfLog::maxQueuedLines);
    EXPECT_LE(count, PerfLog::maxQueuedLines + 1);
}
