#include "foundation/AllocatorSettings.h"

#include <malloc.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace velto {

std::optional<std::string> AllocatorSettings::tunablesWithThreadCacheOff(const char* current) {
    const std::string_view off = threadCacheOff;
    const std::string value = current ? current : "";
    // Entries are name=value, separated by colons.
    const std::string name = ':' + std::string(off.substr(0, off.find('=') + 1));
    if ((':' + value).find(name) != std::string::npos) return std::nullopt;
    return value.empty() ? std::string(off) : value + ':' + std::string(off);
}

void AllocatorSettings::apply(char** argv) {
    const char* current = std::getenv("GLIBC_TUNABLES");
    // A privileged start has its tunables taken away: it would start again without end.
    auto tunables = ::getauxval(AT_SECURE) ? std::nullopt : tunablesWithThreadCacheOff(current);
    if (tunables) {
        const std::optional<std::string> before =
            current ? std::optional<std::string>(current) : std::nullopt;
        // Its own file by name, not the /proc link: the process is named after the file it runs,
        // and tools that find the player by name look for its name.
        std::error_code error;
        const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error && ::setenv("GLIBC_TUNABLES", tunables->c_str(), 1) == 0)
            ::execv(self.c_str(), argv);
        // Not started again: the program goes on with the caches, and its children as asked.
        if (before)
            ::setenv("GLIBC_TUNABLES", before->c_str(), 1);
        else
            ::unsetenv("GLIBC_TUNABLES");
    }
    // Picture decodes take tens to hundreds of MB at a time on the workers. glibc's adaptive
    // mapping threshold rises to such a size once one is freed, and then serves them from each
    // worker's own heap, which keeps the memory when they are freed: the peak grows with the
    // number of workers that ever decoded, past the decode budget. Fixed at 32 MB, they are
    // mapped and given back when freed: eight 2600² 16-bit PNGs at once on sixteen workers peak
    // at 146 MB instead of 433 MB.
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    // Every thread that allocates gets an arena of its own, up to eight per core, and GStreamer
    // starts new threads with every song: each arena keeps what its threads freed, and the
    // resident set grew while the heap in use stayed flat. Two arenas, with the free pages
    // handed back at each song change: after 600 one-second songs 20.4 MB instead of 23.5 MB,
    // 0.5 kB gained a song instead of 1.7 kB.
    ::mallopt(M_ARENA_MAX, 2);
}

}  // namespace velto
