#include <cmath>
#include <limits>

#include "foundation/ManualMainQueue.h"
#include "library/LibraryFixture.h"
#include "library/ScriptedDetailRuntime.h"
#include "library/details/TrackDetailRefreshCoordinator.h"
#include "library/details/TrackDetailRefreshError.h"
#include "sources/model/SourceError.h"

using namespace velto;

namespace {

using Date = std::chrono::system_clock::time_point;
using Decision = DetailRefreshDecision;
using Outcome = TrackDetailRefreshOutcome;

Date at(double seconds) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
}

Track withQualities(const std::string& songmid, const std::string& types) {
    return song(songmid, MusicSource::wy, R"({"types":[)" + types + "]}");
}

}  // namespace

TEST(TrackDetailCachePolicyValues, KeepsNonNegativeDurationsOnly) {
    const TrackDetailCachePolicy odd(-5, std::nan(""));
    EXPECT_EQ(odd.ttl, 0);
    EXPECT_EQ(odd.failureRetryDelay, 0);
    EXPECT_EQ(TrackDetailCachePolicy(0, 7).failureRetryDelay, 7);
}

TEST(TrackDetailCachePolicyValues, AfterHoldsAtTheEndsOfTheClock) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TrackDetailCachePolicy::after(at(1000), 1.5), at(1001.5));
    for (double far : {inf, 1e300})
        EXPECT_EQ(TrackDetailCachePolicy::after(at(1000), far), Date::max());
    EXPECT_EQ(TrackDetailCachePolicy::after(at(1000), -inf), Date::min());
    EXPECT_EQ(TrackDetailCachePolicy::after(Date::max() - std::chrono::seconds(1), 2), Date::max());
}

class TrackDetailStore : public LibraryFixture {};

TEST_F(TrackDetailStore, DecisionFollowsRecordQualityAndDates) {
    const TrackDetailCachePolicy policy(100, 10);
    store->updateTrack(song("fresh"));
    store->recordTrackDetailSuccess(song("fresh"), "wy_fresh", at(1000), 1);
    store->updateTrack(song("v2"));
    store->recordTrackDetailSuccess(song("v2"), "wy_v2", at(1000), 2);
    store->recordTrackDetailFailure(song("v2"), at(1050));
    store->updateTrack(song("never"));
    store->recordTrackDetailFailure(song("never"), at(1050));

    struct Case {
        const char* name;
        Track track;
        double now;
        bool force;
        Decision expected;
    };
    const std::vector<Case> cases = {
        {"forced although fresh", song("fresh"), 1010, true, Decision::refresh()},
        {"fresh", song("fresh"), 1099.5, false, Decision::cached()},
        {"ttl ends exactly now", song("fresh"), 1100, false, Decision::refresh()},
        {"lossless payload, no record", withQualities("x", R"({"type":"flac"},{"type":"128k"})"), 0,
         false, Decision::cached()},
        {"high payload", withQualities("x", R"({"type":"320k"})"), 0, false, Decision::cached()},
        {"standard only, no record", withQualities("x", R"({"type":"128k"})"), 0, false,
         Decision::refresh()},
        {"other version, deferred", song("v2"), 1010, false, Decision::retryDeferred(at(1050))},
        {"deferral ends exactly now", song("v2"), 1050, false, Decision::refresh()},
        {"never refreshed, deferred", song("never"), 1049, false,
         Decision::retryDeferred(at(1050))},
    };
    for (const auto& c : cases)
        EXPECT_EQ(store->detailRefreshDecision(c.track, at(c.now), policy, c.force), c.expected)
            << c.name;
    EXPECT_EQ(
        store->detailRefreshDecision(song("fresh"), at(1000), TrackDetailCachePolicy(0, 0), false),
        Decision::refresh());
    // Details kept for good stay fresh.
    const TrackDetailCachePolicy forever(std::numeric_limits<double>::infinity(), 10);
    EXPECT_EQ(store->detailRefreshDecision(song("fresh"), at(1e9), forever, false), Decision::cached());
}

TEST_F(TrackDetailStore, SuccessCreatesOrRefreshesTheRecordAndFailureNeedsOne) {
    store->recordTrackDetailFailure(song("new"), at(50));
    EXPECT_EQ(integer("SELECT count(*) FROM track_records"), 0);
    TrackRecord record = store->recordTrackDetailSuccess(song("new"), "wy_new", at(10), 1);
    EXPECT_TRUE(!record.accentHex && record.detailRefreshVersion == 1);
    store->recordTrackDetailFailure(song("new"), at(99));
    record = store->updateTrack(song("new"));
    EXPECT_TRUE(record.detailRefreshedAt == at(10) && record.detailRetryAfter == at(99));
    store->recordTrackDetailSuccess(song("new"), "wy_new", at(20), 1);
    EXPECT_FALSE(store->updateTrack(song("new")).detailRetryAfter);
    EXPECT_THROW(store->recordTrackDetailSuccess(song("other"), "wy_new", at(30), 1),
                 TrackDetailRefreshError);
    EXPECT_EQ(integer("SELECT count(*) FROM track_records WHERE music_id = 'wy_other'"), 0);
}

class TrackDetailCoordination : public LibraryFixture {
  protected:
    struct Call {
        TrackDetailRefreshCoordinator::Handle handle;
        std::optional<TaskResult<Outcome>> result;
    };

    void SetUp() override { shared = std::move(store); }

    std::shared_ptr<Call> refresh(const Track& track, double now, bool force = false) {
        auto call = std::make_shared<Call>();
        call->handle = coordinator.refresh(
            track, shared, force, at(now),
            [call](TaskResult<Outcome> result) { call->result.emplace(std::move(result)); });
        return call;
    }
    void awaitResult(const std::shared_ptr<Call>& call) {
        ASSERT_TRUE(queue.runUntil([&] { return call->result.has_value(); }));
    }
    // Answers the `count`th request once it has arrived.
    void answerRequest(int count, ScriptedDetailRuntime::Answer answer) {
        runtime->awaitCalls(count);
        runtime->answer(std::move(answer));
    }
    Outcome outcome(const std::shared_ptr<Call>& call) {
        EXPECT_TRUE(call->result && call->result->ok());
        return call->result && call->result->ok() ? call->result->value() : Outcome{};
    }
    TrackRecord stored(const std::string& songmid) { return shared->updateTrack(song(songmid)); }

    ManualMainQueue queue;
    WorkerPool pool{2};
    std::shared_ptr<ScriptedDetailRuntime> runtime = std::make_shared<ScriptedDetailRuntime>();
    TrackDetailRefreshCoordinator coordinator{runtime, TrackDetailCachePolicy(1000, 60), pool,
                                              queue};
    std::shared_ptr<LibraryStore> shared;
};

TEST_F(TrackDetailCoordination, AnswersWithoutFetchingWhenNothingIsDue) {
    auto off = refresh(song("1", MusicSource::kg), 0, true);
    shared->updateTrack(song("3"));
    shared->recordTrackDetailFailure(song("3"), at(2000));
    auto deferred = refresh(song("3"), 1500);
    queue.runPending();
    EXPECT_EQ(outcome(off), Outcome::cached(song("1", MusicSource::kg)));
    EXPECT_EQ(outcome(deferred), Outcome::retryDeferred(song("3"), at(2000)));
    EXPECT_EQ(runtime->calls(), 0);
}

TEST_F(TrackDetailCoordination, CallersShareOneFetchAndItsOutcome) {
    Track fetched = song("1");
    fetched.album = "新专辑";
    auto first = refresh(song("1"), 100);
    auto second = refresh(song("1"), 300, true);
    answerRequest(1, fetched);
    awaitResult(first);
    awaitResult(second);
    EXPECT_EQ(outcome(first), Outcome::refreshed(fetched));
    EXPECT_EQ(outcome(second), Outcome::refreshed(fetched));
    EXPECT_EQ(runtime->calls(), 1);
    EXPECT_EQ(stored("1").detailRefreshedAt, at(100));
    EXPECT_EQ(stored("1").detailRefreshVersion, 1);
}

TEST_F(TrackDetailCoordination, FailureDefersFromTheFirstCallersClockAndKeepsEachTrack) {
    stored("1");
    Track mine = song("1");
    Track theirs = song("1");
    theirs.title = "另一个";
    auto first = refresh(mine, 100);
    auto second = refresh(theirs, 500);
    answerRequest(1, std::make_exception_ptr(SourceError::source("失败")));
    awaitResult(first);
    awaitResult(second);
    EXPECT_EQ(outcome(first), Outcome::failedWithExistingData(mine));
    EXPECT_EQ(outcome(second), Outcome::failedWithExistingData(theirs));
    EXPECT_EQ(stored("1").detailRetryAfter, at(160));
}

TEST_F(TrackDetailCoordination, ACancelledWaiterLeavesAloneAndTheLastOneEndsTheFetch) {
    auto leaving = refresh(song("1"), 0);
    auto staying = refresh(song("1"), 0);
    runtime->awaitCalls(1);
    leaving->handle.cancel();
    queue.runPending();
    runtime->answer(song("1"));
    awaitResult(staying);
    EXPECT_EQ(outcome(staying), Outcome::refreshed(song("1")));
    EXPECT_FALSE(leaving->result);

    auto a = refresh(song("2"), 0);
    auto b = refresh(song("2"), 0);
    runtime->awaitCalls(2);
    a->handle.cancel();
    b->handle.cancel();
    queue.runPending();
    runtime->awaitCancelled(1);
    auto third = refresh(song("2"), 0);
    answerRequest(3, song("2"));
    awaitResult(third);
    queue.runPending();
    EXPECT_FALSE(a->result);
    EXPECT_FALSE(b->result);
    EXPECT_EQ(outcome(third), Outcome::refreshed(song("2")));
}

TEST_F(TrackDetailCoordination, UnaskedCancellationStillAnswersAndEndsTheEntry) {
    auto first = refresh(song("1"), 0);
    auto second = refresh(song("1"), 0);
    answerRequest(1, std::make_exception_ptr(CancellationError()));
    awaitResult(first);
    awaitResult(second);
    EXPECT_TRUE(isCancellation(first->result->error()));
    EXPECT_TRUE(isCancellation(second->result->error()));
    EXPECT_EQ(integer("SELECT count(*) FROM track_records"), 0);

    auto later = refresh(song("1"), 0);
    answerRequest(2, song("1"));
    awaitResult(later);
    EXPECT_EQ(outcome(later), Outcome::refreshed(song("1")));
}

TEST_F(TrackDetailCoordination, AnotherSongInTheAnswerIsAMismatchAndDefersTheRequested) {
    stored("1");
    auto call = refresh(song("1"), 100);
    answerRequest(1, song("2"));
    awaitResult(call);
    try {
        std::rethrow_exception(call->result->error());
    } catch (const TrackDetailRefreshError& error) {
        EXPECT_EQ(error.expected(), "wy_1");
        EXPECT_EQ(error.received(), "wy_2");
    }
    EXPECT_EQ(stored("1").detailRetryAfter, at(160));
    EXPECT_EQ(integer("SELECT count(*) FROM track_records WHERE music_id = 'wy_2'"), 0);
}
