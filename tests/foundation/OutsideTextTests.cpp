// The foundation's guards for text from outside: nesting depth, echoed secrets, log lines.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/text/Base64.h"
#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"
#include "foundation/text/SecretMasking.h"

namespace velto {
namespace {

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(BoundedJson, RefusesNestingBeyondTheLimitAndOnlyThat) {
    EXPECT_TRUE(BoundedJson::parse(nested(BoundedJson::maxDepth)).is_array());
    EXPECT_TRUE(BoundedJson::parse(nested(BoundedJson::maxDepth + 1)).is_discarded());
    // Brackets inside texts, after escaped quotes too, are no nesting.
    EXPECT_TRUE(BoundedJson::parse(R"({"a":"\"[[[[","b":")" + nested(1000) + "\"}").is_object());
}

TEST(SecretMasking, HidesEveryFormAServerMayEchoAndNothingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {"key k3y+/= x.", "key ***."},
        {"?apikey=k3y%2B%2F%3D%20x&a=1", "?apikey=***&a=1"},
        {"?apikey=k3y%2b%2f%3d+x", "?apikey=***"},
        {"mixed k3y+%2F=%20x, twice k3y%252B%252F%253D%2520x", "mixed ***, twice ***"},
        {"near k3y+/= y and k3y%2B", "near k3y+/= y and k3y%2B"},
        {"upper K3Y+/= X, K3Y%2B%2F%3D+X", "upper ***, ***"},
        {"hex 6b33792b2f3d2078, 6B33792B2F3D2078.", "hex ***, ***."},
        {"near 6b33792b2f3d2079 and 6b33792b2f3d20", "near 6b33792b2f3d2079 and 6b33792b2f3d20"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SecretMasking::masked(text, "k3y+/= x"), expected) << text;
    }
    EXPECT_EQ(SecretMasking::masked("unchanged", ""), "unchanged");
    // A short secret's other cases and hex digits are ordinary words.
    EXPECT_EQ(SecretMasking::masked("abc ABC 616263", "abc"), "*** ABC 616263");
}

// Inside an echoed Base64 text, every character that holds a bit of the secret is hidden,
// whatever the secret's alignment, the alphabet, padding or escaping, and no other character.
TEST(SecretMasking, HidesTheSecretInsideBase64) {
    // Every encoding of it below has a '+' or '/' among the secret's characters.
    const std::string secret = "k3y?~~~secret";
    auto spelled = [](std::string text, std::string_view plus, std::string_view slash,
                      std::string_view pad) {
        std::string out;
        for (char c : text) {
            out += c == '+' ? plus : c == '/' ? slash : c == '=' ? pad : std::string_view(&c, 1);
        }
        return out;
    };
    const std::function<std::string(std::string)> spellings[] = {
        [&](std::string t) { return t; },
        [&](std::string t) { return spelled(t, "-", "_", "="); },
        [&](std::string t) { return spelled(t, "+", "/", ""); },
        [&](std::string t) { return spelled(t, "%2B", "%2F", "%3D"); },
    };
    // The secret as itself, and percent-encoded as an echoed address carries it.
    for (std::string form : {secret, std::string("k3y%3F~~~secret")}) {
        for (std::string prefix : {"", "a", "ab", "RoVOz key="}) {
            for (std::string suffix : {"", "!", "&x=1"}) {
                const std::string encoded = Base64::encode(prefix + form + suffix);
                const std::size_t first = prefix.size() * 8 / 6;
                const std::size_t end = ((prefix.size() + form.size()) * 8 + 5) / 6;
                const std::string after = suffix.empty() ? "" : encoded.substr(end);
                for (const auto& spell : spellings) {
                    EXPECT_EQ(SecretMasking::masked("bad key " + spell(encoded), secret),
                              "bad key " + spell(encoded.substr(0, first)) + "***" + spell(after))
                        << prefix << "|" << suffix << "|" << spell(encoded);
                }
            }
        }
    }
    const std::string other = Base64::encode("k3y?~~~sEcret");
    EXPECT_EQ(SecretMasking::masked(other, secret), other);

    // MIME breaks lines every 76 characters: a break inside the secret's characters is hidden
    // with them, any other kept.
    for (std::string lineEnd : {"\r\n", "\n"}) {
        for (std::size_t lead = 40; lead < 60; ++lead) {
            const std::string encoded = Base64::encode(std::string(lead, '.') + secret + "!");
            const std::size_t first = lead * 8 / 6;
            const std::size_t end = ((lead + secret.size()) * 8 + 5) / 6;
            std::string text;
            std::string expected;
            for (std::size_t i = 0; i < encoded.size(); ++i) {
                if (i > 0 && i % 76 == 0) {
                    text += lineEnd;
                    if (i <= first || i >= end) expected += lineEnd;
                }
                text += encoded[i];
                if (i == first) expected += "***";
                if (i < first || i >= end) expected += encoded[i];
            }
            EXPECT_EQ(SecretMasking::masked(text, secret), expected) << lead << "|" << text;
        }
    }
}

TEST(Log, ControlCharactersCannotForgeLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"歌曲\r\t.mp3", "歌曲\\r\\t.mp3"},
        {std::string("nul\0esc\x1b[2J", 11), "nul\\x00esc\\x1B[2J"},
        {"c1\xC2\x85 sep\xE2\x80\xA8 nbsp\xC2\xA0", "c1\\u0085 sep\\u2028 nbsp\xC2\xA0"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Log::escaped(text), expected);

    std::vector<std::string> lines;
    Log::setSink([&](Log::Level, std::string_view category, std::string_view message) {
        lines.push_back(std::string(category) + "|" + std::string(message));
    });
    Log::info("scan", "file a\nerror: forged");
    Log::setSink({});
    EXPECT_EQ(lines, std::vector<std::string>{"scan|file a\\nerror: forged"});
}

}  // namespace
}  // namespace velto
