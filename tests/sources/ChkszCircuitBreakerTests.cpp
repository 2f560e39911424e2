#include <gtest/gtest.h>

#include "sources/rovoz/ChkszCircuitBreaker.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

class ChkszCircuitBreakerTest : public ::testing::Test {
  protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    ChkszCircuitBreaker breaker{[this] { return now; }};

    // The pause length, found by stepping the clock to just before and just after its end.
    void expectPauseOf(std::chrono::milliseconds length) {
        const auto start = now;
        now = start + length - 1ms;
        EXPECT_EQ(breaker.blockedMessage(), "RoVOz 限流冷却中（HTTP 429）");
        now = start + length;
        EXPECT_EQ(breaker.blockedMessage(), std::nullopt);
    }
};

TEST_F(ChkszCircuitBreakerTest, PauseIsClampedBetweenOneAndSixtySeconds) {
    breaker.deferAfterRateLimit(0);
    expectPauseOf(1s);
    breaker.deferAfterRateLimit(-5);
    expectPauseOf(1s);
    breaker.deferAfterRateLimit(120);
    expectPauseOf(60s);
    breaker.deferAfterRateLimit(1.5);
    expectPauseOf(1500ms);
}

TEST_F(ChkszCircuitBreakerTest, RunningPauseIsExtendedButNeverCut) {
    const auto start = now;
    breaker.deferAfterRateLimit(10);
    now = start + 5s;
    breaker.deferAfterRateLimit(20);
    breaker.deferAfterRateLimit(1);
    now = start + 24s;
    EXPECT_TRUE(breaker.blockedMessage());
    now = start + 25s;
    EXPECT_FALSE(breaker.blockedMessage());
}

TEST_F(ChkszCircuitBreakerTest, EndedPauseIsClearedAndANewOneStartsFromNow) {
    breaker.deferAfterRateLimit(2);
    now += 3s;
    EXPECT_FALSE(breaker.blockedMessage());
    breaker.deferAfterRateLimit(2);
    expectPauseOf(2s);
}

TEST_F(ChkszCircuitBreakerTest, DisabledForTheRestOfTheRunWithTheLastReason) {
    EXPECT_FALSE(breaker.disabled());
    EXPECT_EQ(breaker.reason(), std::nullopt);
    EXPECT_EQ(breaker.blockedMessage(), std::nullopt);
    breaker.disable("HTTP 401");
    breaker.disable("API 403");
    EXPECT_TRUE(breaker.disabled());
    EXPECT_EQ(breaker.reason(), "API 403");
    EXPECT_EQ(breaker.blockedMessage(), "RoVOz 已停用（API 403）");
    now += 24h;
    EXPECT_EQ(breaker.blockedMessage(), "RoVOz 已停用（API 403）");
    breaker.disable("");
    EXPECT_EQ(breaker.blockedMessage(), "RoVOz 已停用（）");
}

TEST_F(ChkszCircuitBreakerTest, DisabledWinsOverARunningPause) {
    breaker.deferAfterRateLimit(30);
    breaker.disable("HTTP 402");
    EXPECT_EQ(breaker.blockedMessage(), "RoVOz 已停用（HTTP 402）");
    now += 31s;
    EXPECT_EQ(breaker.blockedMessage(), "RoVOz 已停用（HTTP 402）");
}

}  // namespace
}  // namespace velto
