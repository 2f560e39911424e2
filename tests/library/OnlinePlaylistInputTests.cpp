#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>

#include "library/OnlinePlaylistImportError.h"
#include "library/OnlinePlaylistInput.h"

namespace velto {
namespace {

using Kind = OnlinePlaylistImportError::Kind;

// Either the parsed input or the error kind it threw.
using Outcome = std::variant<OnlinePlaylistInput, Kind>;

Outcome parse(const std::string& text, MusicSource source = MusicSource::wy) {
    try {
        return OnlinePlaylistInput::parse(text, source);
    } catch (const OnlinePlaylistImportError& error) {
        return error.kind();
    }
}

Outcome reference(MusicSource source, std::string id) {
    return OnlinePlaylistInput{OnlinePlaylistReference{source, std::move(id)}};
}
Outcome shortLink(std::string url) { return OnlinePlaylistInput{OnlinePlaylistInput::ShortLink{std::move(url)}}; }

std::string describe(const Outcome& outcome) {
    if (const auto* kind = std::get_if<Kind>(&outcome)) return "error " + std::to_string(int(*kind));
    const auto& input = std::get<OnlinePlaylistInput>(outcome);
    if (const auto* link = input.shortLink()) return "short link " + link->url;
    return "reference " + std::to_string(int(input.reference()->source)) + "/" + input.reference()->id;
}

TEST(OnlinePlaylistInputTest, NormalizedIdentifiers) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"0042", "42"},         {"000123", "123"},      {"0", std::nullopt},
        {"000", std::nullopt},  {"", std::nullopt},     {"+42", std::nullopt},
        {"４２", std::nullopt}, {"4 2", std::nullopt},  {"123456789012345678", "123456789012345678"},
        {"1234567890123456789", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(OnlinePlaylistReference::normalizedID(text), expected) << text;
}

TEST(OnlinePlaylistInputTest, PastedTextTable) {
    const std::string id = "https://music.163.com/playlist?id=";
    const std::pair<std::string, Outcome> cases[] = {
        // Bare identifiers take the caller's source and need no host.
        {"  0042 \n", reference(MusicSource::tx, "42")},
        {"0", Kind::invalidInput},
        {"1234567890123456789", Kind::invalidInput},
        {"+42", Kind::invalidInput},
        {"", Kind::invalidInput},
        {" \n\t\u3000 ", Kind::invalidInput},
        // Share sentences: closing punctuation after the link is not part of it.
        {"分享歌单（" + id + "77）", reference(MusicSource::wy, "77")},
        {"快来听：" + id + "78。", reference(MusicSource::wy, "78")},
        {"HTTP://MUSIC.163.COM/playlist?id=79", reference(MusicSource::wy, "79")},
        {"<" + id + "80>", reference(MusicSource::wy, "80")},
        // Single-page routes after "#"; NetEase reads the identifier from the query only.
        {"https://music.163.com/#/playlist?id=81", reference(MusicSource::wy, "81")},
        {"https://music.163.com/playlist/82", Kind::notPlaylistLink},
        {"https://music.163.com/song?id=83", Kind::notPlaylistLink},
        {"https://music.163.com/playlist?ID=84&id=85", reference(MusicSource::wy, "84")},
        {"https://music.163.com/playlist?id&id=86", Kind::notPlaylistLink},
        {"https://y.music.163.com/m/playlist?id=87&userid=1", reference(MusicSource::wy, "87")},
        // QQ Music: identifiers in three places.
        {"https://y.qq.com/n/ryqq/playlist?dissid=90", reference(MusicSource::tx, "90")},
        {"https://y.qq.com/n/ryqq/playlist/91.html", reference(MusicSource::tx, "91")},
        {"https://i.y.qq.com/n2/m/share/details/taoge.html?id=92", reference(MusicSource::tx, "92")},
        {"https://c.y.qq.com/base/fcgi-bin/u?__=abc", shortLink("https://c.y.qq.com/base/fcgi-bin/u?__=abc")},
        {"https://c.y.qq.com/other/path", Kind::notPlaylistLink},
        // Short links of any path, upgraded to https.
        {"看看 http://163cn.tv/xYz12 吧", shortLink("https://163cn.tv/xYz12")},
        {"https://url.cn/aBc", shortLink("https://url.cn/aBc")},
        // Hosts outside the catalogue, sub-domains included; authority parts refused.
        {"https://example.com/playlist?id=1", Kind::unsupportedLink},
        {"https://www.music.163.com/playlist?id=1", Kind::unsupportedLink},
        {"https://music.163.com:8443/playlist?id=1", Kind::invalidInput},
        {"https://me@music.163.com/playlist?id=1", Kind::invalidInput},
        {"no link here", Kind::invalidInput},
        {"https://", Kind::invalidInput},
        // Text glued to the link stays in it and spoils the address.
        {id + "93分享自", Kind::invalidInput},
    };
    for (const auto& [text, expected] : cases) {
        const auto source = text.find("0042") != std::string::npos ? MusicSource::tx : MusicSource::wy;
        EXPECT_EQ(describe(parse(text, source)), describe(expected)) << text;
    }
}

TEST(OnlinePlaylistInputTest, LengthLimitCountsCharactersNotBytes) {
    // 8,192 characters (most of three bytes) around a link are still parsed; one more is not.
    std::string padding;
    for (int i = 0; i < 8192 - 39; ++i) padding += "歌";
    const std::string link = " https://music.163.com/playlist?id=12 ";  // 38 characters
    EXPECT_EQ(describe(parse(padding + link + "好")), describe(reference(MusicSource::wy, "12")));
    EXPECT_EQ(describe(parse(padding + link + "好听")), describe(Kind::invalidInput));
    // A huge paste is refused without trouble.
    EXPECT_EQ(describe(parse(std::string(8193, '7'))), describe(Kind::invalidInput));
    EXPECT_EQ(describe(parse(std::string(4 << 20, 'h'))), describe(Kind::invalidInput));
}

}  // namespace
}  // namespace velto
