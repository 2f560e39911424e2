#include <gtest/gtest.h>

#include <string>

#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/OnlinePlaylistInput.h"

namespace velto {
namespace {

// "source/id", "short <url>", or the name of the error thrown.
// A bare identifier takes the source QQ Music; links name their own.
std::string parse(const std::string& text) {
    try {
        const auto input = OnlinePlaylistInput::parse(text, MusicSource::tx);
        if (const auto* link = input.shortLink()) return "short " + link->url;
        return std::string(rawValue(input.reference()->source)) + "/" + input.reference()->id;
    } catch (const OnlinePlaylistImportError& error) {
        static const char* names[] = {"invalidInput", "unsupportedLink", "notPlaylistLink",
                                      "unavailable", "invalidResponse", "tooLarge"};
        return names[int(error.kind())];
    }
}

TEST(OnlinePlaylistInputTest, PastedTextTable) {
    const std::string id = "https://music.163.com/playlist?id=";
    const std::pair<std::string, std::string> cases[] = {
        {"  0042 \n", "tx/42"},
        {"0", "invalidInput"},
        {"1234567890123456789", "invalidInput"},
        {"+42", "invalidInput"},
        {"４２", "invalidInput"},
        {"", "invalidInput"},
        {" \n\t\u3000 ", "invalidInput"},
        // Share sentences: closing punctuation after the link is not part of it.
        {"分享歌单（" + id + "77）", "wy/77"},
        {"快来听：" + id + "78。", "wy/78"},
        {"HTTP://MUSIC.163.COM/playlist?id=79", "wy/79"},
        {"<" + id + "80>", "wy/80"},
        // Single-page routes after "#"; NetEase reads the identifier from the query only.
        {"https://music.163.com/#/playlist?id=81", "wy/81"},
        {"https://music.163.com/playlist/82", "notPlaylistLink"},
        {"https://music.163.com/song?id=83", "notPlaylistLink"},
        {"https://music.163.com/playlist?ID=84&id=85", "wy/84"},
        {"https://music.163.com/playlist?id&id=86", "notPlaylistLink"},
        {"https://y.music.163.com/m/playlist?id=87&userid=1", "wy/87"},
        // QQ Music: identifiers in three places.
        {"https://y.qq.com/n/ryqq/playlist?dissid=90", "tx/90"},
        {"https://y.qq.com/n/ryqq/playlist/91.html", "tx/91"},
        {"https://i.y.qq.com/n2/m/share/details/taoge.html?id=92", "tx/92"},
        {"https://c.y.qq.com/base/fcgi-bin/u?__=abc", "short https://c.y.qq.com/base/fcgi-bin/u?__=abc"},
        {"https://c.y.qq.com/other/path", "notPlaylistLink"},
        // Short links of any path, upgraded to https.
        {"看看 http://163cn.tv/xYz12 吧", "short https://163cn.tv/xYz12"},
        {"https://url.cn/aBc", "short https://url.cn/aBc"},
        // Hosts outside the catalogue, sub-domains included; authority parts refused.
        {"https://example.com/playlist?id=1", "unsupportedLink"},
        {"https://www.music.163.com/playlist?id=1", "unsupportedLink"},
        {"https://music.163.com:8443/playlist?id=1", "invalidInput"},
        {"https://me@music.163.com/playlist?id=1", "invalidInput"},
        {"no link here", "invalidInput"},
        {"https://", "invalidInput"},
        // Text glued to the link stays in it and spoils the address.
        {id + "93分享自", "invalidInput"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parse(text), expected) << text;
}

TEST(OnlinePlaylistInputTest, LengthLimitCountsCharactersNotBytes) {
    // 8,192 characters (most of three bytes) around a link are still parsed; one more is not.
    std::string padding;
    for (int i = 0; i < 8192 - 39; ++i) padding += "歌";
    const std::string link = " https://music.163.com/playlist?id=12 ";  // 38 characters
    EXPECT_EQ(parse(padding + link + "好"), "wy/12");
    EXPECT_EQ(parse(padding + link + "好听"), "invalidInput");
    EXPECT_EQ(parse(std::string(4 << 20, 'h')), "invalidInput");
}

}  // namespace
}  // namespace velto
