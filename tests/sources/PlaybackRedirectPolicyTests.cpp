#include <gtest/gtest.h>

#include "sources/resolving/PlaybackRedirectPolicy.h"

namespace velto {
namespace {

using PlaybackRedirectPolicy::isSameHTTPSOrigin;

TEST(PlaybackRedirectPolicyTest, SameHTTPSOrigin) {
    const std::string origin = "https://media.example.com/a.mp3";
    EXPECT_TRUE(isSameHTTPSOrigin("https://media.example.com:443/b.mp3", origin));
    EXPECT_TRUE(isSameHTTPSOrigin("https://MEDIA.Example.COM/b.mp3?x=1", origin));
    EXPECT_TRUE(isSameHTTPSOrigin("HTTPS://media.example.com/", origin));
    EXPECT_TRUE(isSameHTTPSOrigin("https://h:8443/b", "https://h:8443/a"));

    EXPECT_FALSE(isSameHTTPSOrigin(std::nullopt, origin));
    EXPECT_FALSE(isSameHTTPSOrigin("http://media.example.com/b.mp3", origin));
    EXPECT_FALSE(isSameHTTPSOrigin("https://other.example.com/b.mp3", origin));
    EXPECT_FALSE(isSameHTTPSOrigin("https://media.example.com:8443/b.mp3", origin));
    EXPECT_FALSE(isSameHTTPSOrigin("https://user@media.example.com/b.mp3", origin));
    EXPECT_FALSE(isSameHTTPSOrigin("https://user:pw@media.example.com/b.mp3", origin));
    EXPECT_FALSE(isSameHTTPSOrigin("/relative/b.mp3", origin));
    EXPECT_FALSE(
        isSameHTTPSOrigin("https://media.example.com/b.mp3", "http://media.example.com/a.mp3"));
}

}  // namespace
}  // namespace velto
