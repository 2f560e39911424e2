#include <gtest/gtest.h>

#include "foundation/AllocatorSettings.h"

namespace velto {
namespace {

// The setting joins what else is asked; a thread cache count already there (the user's, or the
// program's own once started again) is kept.
TEST(AllocatorSettings, TheThreadCacheIsTurnedOffOnceAndAUsersCountIsKept) {
    const std::string max = "glibc.malloc.tcache_max=64", off(AllocatorSettings::threadCacheOff);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff(max.c_str()), max + ':' + off);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff("glibc.malloc.tcache_count=5"),
              std::nullopt);
}

}  // namespace
}  // namespace velto
