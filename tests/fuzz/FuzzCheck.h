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
        // Made new under a name no one could have laid a link at beforehand.
        std::string pattern = (base / ("velto-fuzz-" + name + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::filesystem::path(pattern);
    }();
    // Registered once the folder is made, so that it runs before the folder's name is destroyed.
    [[maybe_unused]] static const int removal = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    return folder;
}

}  // namespace velto::fuzz
