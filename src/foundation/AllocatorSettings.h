#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velto {

// How glibc's allocator serves this program: set once, before any thread starts.
class AllocatorSettings {
  public:
    // Blocks of up to 1 kB that a thread frees wait in that thread's own cache, seven of each
    // size, and count as in use for every trim: a thread that lives all day fills its cache
    // slowly, with what other threads handed it too. Over half an hour of five-second network
    // songs the resident set rose 7-12 kB a minute with the caches and 0.7-2.2 kB without, while
    // the heap in use stayed flat. The program allocates about a thousand blocks a second, too
    // few for the caches to save CPU that a song change shows.
    static constexpr std::string_view threadCacheOff = "glibc.malloc.tcache_count=0";

    // The GLIBC_TUNABLES value to start again with (`current` and threadCacheOff), or none when
    // `current` already says how many blocks a thread keeps: the user chose, or the program
    // started again.
    static std::optional<std::string> tunablesWithThreadCacheOff(const char* current);

    // glibc reads its tunables only as a process starts: the program replaces itself once with
    // its own image under threadCacheOff (same process, same arguments). Then the mapping
    // threshold and the arena count. Returns when started again, or when that cannot be done.
    static void apply(char** argv);
};

}  // namespace velto
