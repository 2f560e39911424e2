#include <gtest/gtest.h>

#include "sources/model/LoopbackAddresses.h"
#include "sources/model/SourceArtworkURL.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/rovoz/ChkszMediaURL.h"

namespace velto {
namespace {

struct KeepLoopbackHTTP {
    explicit KeepLoopbackHTTP(bool keeps) { LoopbackAddresses::setKeepsHTTP(keeps); }
    ~KeepLoopbackHTTP() { LoopbackAddresses::setKeepsHTTP(false); }
};

TEST(LoopbackAddressesTest, OnlyLoopbackHTTPStaysHTTPAndOnlyWhileKept) {
    struct Case {
        const char* address;
        bool keeps;
        const char* expected;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/a.mp3", true, "http://127.0.0.1:8080/a.mp3"},
        {"http://[::1]:8080/a.mp3", true, "http://[::1]:8080/a.mp3"},
        {"http://LocalHost/a.mp3", true, "http://LocalHost/a.mp3"},
        {"http://127.0.0.2/a.mp3", true, "https://127.0.0.2/a.mp3"},
        {"http://cdn.example/a.mp3", true, "https://cdn.example/a.mp3"},
        {"http://127.0.0.1:8080/a.mp3", false, "https://127.0.0.1:8080/a.mp3"},
        {"https://127.0.0.1/a.mp3", true, "https://127.0.0.1/a.mp3"},
    };
    for (const auto& c : cases) {
        KeepLoopbackHTTP keep(c.keeps);
        EXPECT_EQ(NetEaseWebClient::mediaURL(c.address), c.expected) << c.address;
        EXPECT_EQ(chkszMediaURL(c.address), c.expected) << c.address;
        EXPECT_EQ(SourceArtworkURL::normalizedString(std::string(c.address)), c.expected) << c.address;
    }
}

}  // namespace
}  // namespace velto
