#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Log.h"

namespace velto {
namespace {

TEST(Log, ControlCharactersCannotForgeLines) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"歌曲.mp3", "歌曲.mp3"},
        {"a\nfake line", "a\\nfake line"},
        {"a\r\tb", "a\\r\\tb"},
        {std::string("nul\0esc\x1b[2J\x7f", 12), "nul\\x00esc\\x1B[2J\\x7F"},
        {"next\xC2\x85line\xE2\x80\xA8sep\xE2\x80\xA9", "next\\u0085line\\u2028sep\\u2029"},
        {"\xC2\xA0\xE2\x80\x94", "\xC2\xA0\xE2\x80\x94"},  // no-break space, dash: kept
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Log::escaped(text), expected);

    std::vector<std::string> lines;
    Log::setSink([&](Log::Level, std::string_view category, std::string_view message) {
        lines.push_back(std::string(category) + "|" + std::string(message));
    });
    Log::info("scan\n", "file a\nerror: forged");
    Log::setSink({});
    EXPECT_EQ(lines, std::vector<std::string>{"scan\\n|file a\\nerror: forged"});
}

}  // namespace
}  // namespace velto
