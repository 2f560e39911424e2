#include <gtest/gtest.h>

#include "platform/HttpClient.h"
#include "playback/PlaybackFailureDiagnostics.h"
#include "sources/model/SourceError.h"

using namespace velto;

namespace {
std::string messageFor(auto error, const std::string& fallback = "无法获取播放地址") {
    return PlaybackFailureDiagnostics::message(std::make_exception_ptr(error), fallback);
}
SourceError networkOver(HttpError::Code code) {
    return SourceError::network(std::make_exception_ptr(HttpError(code, "curl said no")));
}
}  // namespace

TEST(PlaybackFailureDiagnostics, NetworkFailuresGetTheirFixedHintsAlsoInsideSourceErrors) {
    EXPECT_EQ(messageFor(networkOver(HttpError::Code::notConnectedToInternet)),
              "网络未连接，请联网后重试");
    EXPECT_EQ(messageFor(networkOver(HttpError::Code::timedOut)),
              "网络请求超时，请检查网络或 VPN 分流后重试");
    EXPECT_EQ(messageFor(HttpError(HttpError::Code::networkConnectionLost, "reset")),
              "网络连接中断，请重试");
    EXPECT_EQ(messageFor(networkOver(HttpError::Code::cannotFindHost)),
              "无法连接音源，请检查网络或 VPN 分流后重试");
    EXPECT_EQ(messageFor(networkOver(HttpError::Code::cannotConnectToHost)),
              "无法连接音源，请检查网络或 VPN 分流后重试");
    // A network failure of another class keeps the source layer's own text.
    EXPECT_EQ(messageFor(networkOver(HttpError::Code::badServerResponse)), "网络失败");
}

TEST(PlaybackFailureDiagnostics, OtherErrorsLoseTheirWebAddressesOrFallBack) {
    EXPECT_EQ(messageFor(SourceError::source("音质不可用")), "音质不可用");
    EXPECT_EQ(messageFor(SourceError::source("无法播放 https://m7.music.example/a.mp3?x=1 请重试")),
              "无法播放  请重试");
    EXPECT_EQ(messageFor(std::runtime_error("http://only.example/path")), "无法获取播放地址");
    EXPECT_EQ(messageFor(std::runtime_error("  "), "无法切换音质"), "无法切换音质");
    EXPECT_EQ(PlaybackFailureDiagnostics::message(nullptr, "无法获取播放地址"), "无法获取播放地址");
}

TEST(PlaybackFailureDiagnostics, LongOutsideMessagesAreScannedOnceAndCapped) {
    // A message tens of thousands of characters long, most of it one address.
    const std::string address = "HTTPS://m.example/" + std::string(200'000, 'a');
    EXPECT_EQ(messageFor(SourceError::source("无法播放 " + address + " 请重试")), "无法播放  请重试");
    std::string chinese;
    for (int i = 0; i < 100'000; ++i) chinese += "长";
    const std::string text = messageFor(SourceError::source(chinese));
    EXPECT_LE(text.size(), PlaybackFailureDiagnostics::maxMessageBytes + std::string("…").size());
    EXPECT_TRUE(text.ends_with("长…")) << text.substr(text.size() - 8);
}
