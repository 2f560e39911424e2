#include <gtest/gtest.h>

#include "app/AppEnvironment.h"

namespace velto {
namespace {

TEST(AppEnvironmentTest, ServiceOriginsAreHTTPSOrLoopbackHTTP) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"https://music.example", "https://music.example"},
        {"https://music.example/", "https://music.example"},
        {"http://127.0.0.1:8400", "http://127.0.0.1:8400"},
        {"http://localhost:8400/", "http://localhost:8400"},
        {"http://[::1]:8400", "http://[::1]:8400"},
        {"http://music.example", std::nullopt},
        {"http://127.0.0.1:8400/api", std::nullopt},
        {"ftp://127.0.0.1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(AppEnvironment::serviceOrigin(text), expected) << text;
}

}  // namespace
}  // namespace velto
