#include <gtest/gtest.h>

#include "foundation/SecretMasking.h"

namespace velto {
namespace {

TEST(SecretMasking, HidesEveryFormAServerMayEchoAndNothingElse) {
    const std::string secret = "k3y+/= x";
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"key k3y+/= x.", "key ***."},
        {"?apikey=k3y%2B%2F%3D%20x&a=1", "?apikey=***&a=1"},
        {"?apikey=k3y%2b%2f%3d+x", "?apikey=***"},
        {"mixed k3y+%2F=%20x", "mixed ***"},
        {"twice k3y%252B%252F%253D%2520x", "twice ***"},
        {"k3y+/= xk3y+/= x", "******"},
        {"near k3y+/= y and k3y%2B", "near k3y+/= y and k3y%2B"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SecretMasking::masked(text, secret), expected) << text;
    }
    EXPECT_EQ(SecretMasking::masked("unchanged", ""), "unchanged");
}

}  // namespace
}  // namespace velto
