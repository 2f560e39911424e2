#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "foundation/AllocatorSettings.h"

namespace velto {
namespace {

// The setting joins whatever else is asked; a thread cache count already there, the user's or
// the one the program started itself again with, is kept as it is, so that it starts again once.
TEST(AllocatorSettings, TheThreadCacheIsTurnedOffOnceAndAUsersCountIsKept) {
    const std::string off(AllocatorSettings::threadCacheOff);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff(nullptr), off);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff(""), off);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff("glibc.malloc.tcache_max=64"),
              "glibc.malloc.tcache_max=64:" + off);
    const auto again = AllocatorSettings::tunablesWithThreadCacheOff("glibc.malloc.check=1");
    ASSERT_TRUE(again);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff(again->c_str()), std::nullopt);
    EXPECT_EQ(AllocatorSettings::tunablesWithThreadCacheOff(
                  "glibc.malloc.arena_max=1:glibc.malloc.tcache_count=5"),
              std::nullopt);
}

}  // namespace
}  // namespace velto
