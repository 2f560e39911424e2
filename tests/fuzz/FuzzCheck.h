#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

// A broken invariant is a finding: report it and abort so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace velto::fuzz {

inline std::string_view text(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A private folder for files a target writes on every input, under $TMPDIR when it is set
// (scripts/fuzz points it at a folder it removes), else in memory-backed storage where there is
// some, which keeps the writes and syncs cheap. libFuzzer ends without running exit handlers
// once its time is up, so the removal at exit only covers the other ways out.
inline const std::filesystem::path& scratchFolder(const std::string& name) {
    static std::filesystem::path folder = [&name] {
        std::error_code ec;
        const char* tmpdir = std::getenv("TMPDIR");
        auto base = tmpdir && *tmpdir ? std::filesystem::path(tmpdir)
                    : std::filesystem::is_directory("/dev/shm", ec)
                        ? std::filesystem::path("/dev/shm")
                        : std::filesystem::temp_directory_path();
        auto path = base / ("velto-fuzz-" + name + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder({}), ignored);
        });
        return path;
    }();
    return folder;
}

}  // namespace velto::fuzz
