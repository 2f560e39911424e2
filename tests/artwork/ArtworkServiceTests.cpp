#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "ArtworkTestSupport.h"
#include "artwork/ArtworkService.h"
#include "foundation/Cancellation.h"
#include "foundation/ManualMainQueue.h"
#include "support/TempDir.h"

using namespace velto;
using namespace velto::artworktest;
namespace fs = std::filesystem;

namespace {

using Date = ArtworkService::Date;

Date at(double seconds) {
    return Date(std::chrono::duration_cast<Date::duration>(
        std::chrono::duration<double>(1'700'000'000 + seconds)));
}

struct Outcome {
    bool answered = false;
    ArtworkImagePtr image;
    std::exception_ptr error;

    std::string message() const {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    bool cancelled() const { return isCancellation(error); }
};

class ArtworkServiceTest : public ::testing::Test {
protected:
    void make(double ttl = 1000, ArtworkService::Limits limits = {1 << 30, 1 << 30, 1200},
              ArtworkAddressPolicy policy = ArtworkAddressPolicy()) {
        service = std::make_unique<ArtworkService>(runtime, client, dir.path() / "Artwork", ttl,
                                                   limits,
                                                   ArtworkService::Environment{pool, queue, policy});
    }

    std::shared_ptr<Outcome> ask(const Track& track, Date now, ArtworkRequest* handle = nullptr) {
        auto outcome = std::make_shared<Outcome>();
        auto request = service->image(track, now, [outcome](TaskResult<ArtworkImagePtr> r) {
            outcome->answered = true;
            if (r.ok()) outcome->image = r.value();
            else outcome->error = r.error();
        });
        if (handle) *handle = request;
        return outcome;
    }

    // Lets the worker (one thread, jobs in order) and the main queue run dry.
    void settle() {
        for (int round = 0; round < 6; ++round) {
            bool reached = false;
            pool.submit([&] { queue.post([&] { reached = true; }); });
            ASSERT_TRUE(queue.runUntil([&] { return reached; }));
        }
    }

    std::shared_ptr<Outcome> load(const Track& track, Date now) {
        auto outcome = ask(track, now);
        settle();
        EXPECT_TRUE(outcome->answered);
        return outcome;
    }

    std::string url(const Track& track) { return "https://covers.test/" + track.songmid; }
    fs::path file(const Track& track) { return service->cacheURL(track.musicID()); }

    ManualMainQueue queue;
    WorkerPool pool{1};
    TempDir dir;
    std::shared_ptr<ScriptedRuntime> runtime = std::make_shared<ScriptedRuntime>();
    std::shared_ptr<ScriptedClient> client = std::make_shared<ScriptedClient>();
    std::unique_ptr<ArtworkService> service;
    const Track a = song("a");
    const Track b = song("b");
    const Track c = song("c");
};

TEST_F(ArtworkServiceTest, ConcurrentCallsShareOneLoadAndTheImageInstance) {
    make();
    client->answer(url(a), jpeg(3000, 1500, 200, 0, 0));
    auto first = ask(a, at(0));
    auto second = ask(a, at(0));
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 2);
    settle();
    ASSERT_TRUE(first->image);
    EXPECT_EQ(first->image, second->image);
    EXPECT_EQ(first->image->width(), 1200);
    EXPECT_EQ(runtime->calls, 1);
    EXPECT_EQ(client->count(url(a)), 1);

    // Stored with its load time; a later memory hit is the same instance and leaves the file be.
    struct stat before{};
    ASSERT_EQ(::stat(file(a).c_str(), &before), 0);
    char stamp[32] = {};
    ASSERT_GT(::getxattr(file(a).c_str(), "user.velto.created", stamp, sizeof stamp), 0);
    EXPECT_EQ(std::stoll(stamp), at(0).time_since_epoch().count());
    EXPECT_EQ(load(a, at(500))->image, first->image);
    struct stat after{};
    ASSERT_EQ(::stat(file(a).c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(client->total(), 1);
}

TEST_F(ArtworkServiceTest, CancelledWaitersLeaveAloneAndTheLastOneStopsTheLoad) {
    make();
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    client->hold(true);
    ArtworkRequest leaving;
    auto gone = ask(a, at(0), &leaving);
    auto staying = ask(a, at(0));
    client->waitUntilHeld();
    leaving.cancel();
    client->hold(false);
    settle();
    EXPECT_FALSE(gone->answered);
    ASSERT_TRUE(staying->image);

    // The only waiter leaves: its load's late answer is dropped and a new call loads anew.
    service->removeCachedArtwork(a);
    settle();
    client->hold(true);
    ArtworkRequest only;
    auto dropped = ask(a, at(1), &only);
    client->waitUntilHeld();
    only.cancel();
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 0);
    client->answer(url(a), jpeg(10, 10, 0, 0, 200));
    auto fresh = ask(a, at(1));
    client->hold(false);
    settle();
    EXPECT_FALSE(dropped->answered);
    ASSERT_TRUE(fresh->image);
    EXPECT_LT(redAt(*fresh->image, 0, 0), 50);
    EXPECT_EQ(load(a, at(2))->image, fresh->image);
}

TEST_F(ArtworkServiceTest, FailuresReachEveryWaiterAndAreNotRemembered) {
    make();
    client->fail(url(a), []() -> std::string { throw SourceError::network(nullptr); });
    auto first = ask(a, at(0));
    auto second = ask(a, at(0));
    settle();
    EXPECT_EQ(first->message(), "网络失败");
    EXPECT_EQ(first->error, second->error);
    client->answer(url(a), "not a picture");
    EXPECT_EQ(load(a, at(1))->message(), "封面数据无法解码");
    EXPECT_EQ(client->count(url(a)), 2);

    // A cancellation nobody asked for still ends the load and answers its waiter.
    client->fail(url(a), []() -> std::string { throw CancellationError(); });
    EXPECT_TRUE(load(a, at(2))->cancelled());
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 0);

    EXPECT_EQ(load(song("/nowhere/x.mp3", MusicSource::local), at(3))->message(), "本地音频暂无封面");
}

TEST_F(ArtworkServiceTest, FreshUntilStampPlusTtlThenServedStaleAndRefreshed) {
    const double ttl = 100;
    make(ttl);
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    auto original = load(a, at(0))->image;

    // Memory is gone with a new service; the file is fresh just before t + T.
    make(ttl);
    auto fromDisk = load(a, at(ttl - 1));
    ASSERT_TRUE(fromDisk->image);
    EXPECT_NE(fromDisk->image, original);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 1);

    // At exactly t + T the file is stale: served, kept out of memory, refreshed behind it. The
    // refresh fails, so stale hits start none until 300 s later.
    make(ttl);
    client->fail(url(a), []() -> std::string { throw SourceError::network(nullptr); });
    EXPECT_TRUE(load(a, at(ttl))->image);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 0);
    EXPECT_EQ(client->count(url(a)), 2);
    EXPECT_TRUE(load(a, at(ttl + 299))->image);
    EXPECT_EQ(client->count(url(a)), 2);

    client->answer(url(a), jpeg(10, 10, 0, 0, 200));
    EXPECT_GT(redAt(*load(a, at(ttl + 300))->image, 0, 0), 150);
    EXPECT_EQ(client->count(url(a)), 3);
    // The refresh replaced memory and file.
    EXPECT_LT(redAt(*load(a, at(ttl + 301))->image, 0, 0), 50);
    make(ttl);
    EXPECT_LT(redAt(*load(a, at(ttl + 302))->image, 0, 0), 50);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 1);
}

TEST_F(ArtworkServiceTest, ZeroTtlOrBudgetKeepsNothing) {
    make(0);
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    load(a, at(0));
    load(a, at(0));
    EXPECT_EQ(client->count(url(a)), 2);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 0);
    EXPECT_FALSE(fs::exists(file(a)));

    make(100, {0, 1 << 20, 1200});
    load(a, at(0));
    EXPECT_EQ(service->cacheUsage().memoryBytes, 0);
    EXPECT_TRUE(fs::exists(file(a)));
}

TEST_F(ArtworkServiceTest, AdmissionOverBudgetEvictsTheLeastRecentlyTouched) {
    const std::int64_t cost = 10 * 10 * 4;
    make(1000, {2 * cost, 1 << 20, 1200});
    for (const Track* track : {&a, &b, &c}) client->answer(url(*track), jpeg(10, 10, 9, 9, 9));
    load(a, at(0));
    load(b, at(0));
    load(a, at(1));  // a memory hit: now b is the oldest
    load(c, at(2));
    EXPECT_EQ(service->cacheUsage().memoryBytes, 2 * cost);
    load(a, at(3));
    load(c, at(3));
    EXPECT_EQ(client->count(url(a)), 1);
    EXPECT_EQ(client->count(url(c)), 1);
    // b was evicted from memory; its fresh file still serves it without a download.
    load(b, at(3));
    EXPECT_EQ(client->count(url(b)), 1);
}

TEST_F(ArtworkServiceTest, UnusableCacheFilesAreDeletedAndLoadedAgain) {
    make();
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    client->answer(url(b), jpeg(10, 10, 200, 0, 0));
    fs::create_directories(dir.path() / "Artwork");
    std::ofstream(file(a)) << "corrupt";
    std::ofstream(file(b)) << std::string(*ArtworkJPEG::encode(*solid(4, 4, 1, 2, 3), 0.9));
    ASSERT_EQ(::setxattr(file(b).c_str(), "user.velto.created", "soon", 4, 0), 0);
    EXPECT_TRUE(load(a, at(0))->image);
    EXPECT_TRUE(load(b, at(0))->image);
    EXPECT_EQ(client->total(), 2);
    make();
    EXPECT_EQ(load(a, at(1))->image->width(), 10);
    EXPECT_EQ(client->total(), 2);
}

TEST_F(ArtworkServiceTest, RemovingArtworkCancelsItsWaitersAndDeletesTheFile) {
    make();
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    load(a, at(0));
    ASSERT_TRUE(fs::exists(file(a)));
    client->hold(true);
    auto waiting = ask(song("b"), at(0));
    client->waitUntilHeld();
    service->removeCachedArtwork(b);
    service->removeCachedArtwork(a);
    client->hold(false);
    settle();
    EXPECT_TRUE(waiting->cancelled());
    EXPECT_FALSE(fs::exists(file(a)));
    EXPECT_EQ(service->cacheUsage().memoryEntries, 0);
}

TEST_F(ArtworkServiceTest, ConstructionClampsAndFailsWithoutAFolder) {
    const ArtworkService::Limits limits(-5, -1, 0);
    EXPECT_EQ(limits.memoryBytes, 0);
    EXPECT_EQ(limits.diskBytes, 0);
    EXPECT_EQ(limits.maximumPixelDimension, 1);
    make(-1);
    EXPECT_EQ(service->ttl(), 0);
    make(std::nan(""));
    EXPECT_EQ(service->ttl(), 0);

    std::ofstream(dir.path() / "file") << "x";
    EXPECT_THROW(ArtworkService(runtime, client, dir.path() / "file" / "Artwork", 1, limits,
                                ArtworkService::Environment{pool, queue}),
                 fs::filesystem_error);
}

TEST_F(ArtworkServiceTest, WorksWithoutADiskTierWhenTheFolderCannotBeWritten) {
    make(1000, {0, 1 << 20, 1200});
    fs::remove_all(dir.path() / "Artwork");
    std::ofstream(dir.path() / "Artwork") << "in the way";
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    EXPECT_TRUE(load(a, at(0))->image);
    EXPECT_TRUE(load(a, at(1))->image);
    EXPECT_EQ(client->count(url(a)), 2);
}

TEST_F(ArtworkServiceTest, AddressesOutsideThePolicyFailWithoutARequest) {
    make();
    const std::string cover = "https://img.test/p.jpg";
    client->answer(cover, jpeg(10, 10, 200, 0, 0));
    for (std::string refused : {"http://127.0.0.1/p.jpg", "ftp://img.test/p.jpg", "file:///p.jpg",
                                "http://192.168.1.2/p.jpg"}) {
        auto outcome = std::make_shared<Outcome>();
        service->imageAtAddress(refused, at(0), [outcome](TaskResult<ArtworkImagePtr> r) {
            outcome->error = r.error();
        });
        settle();
        EXPECT_EQ(outcome->message(), "封面请求返回异常") << refused;
    }
    EXPECT_EQ(client->total(), 0);
    ArtworkImagePtr image;
    service->imageAtAddress(cover, at(0), [&](TaskResult<ArtworkImagePtr> r) { image = r.value(); });
    settle();
    EXPECT_TRUE(image);

    make(1000, {1 << 20, 1 << 20, 1200}, ArtworkAddressPolicy(true));
    client->answer("http://127.0.0.1/p.jpg", jpeg(10, 10, 200, 0, 0));
    service->imageAtAddress("http://127.0.0.1/p.jpg", at(0),
                            [&](TaskResult<ArtworkImagePtr> r) { image = r.value(); });
    settle();
    EXPECT_EQ(client->count("http://127.0.0.1/p.jpg"), 1);
}

TEST_F(ArtworkServiceTest, StaleLocalCoverIsRefreshedFromTheFolder) {
    const double ttl = 100;
    make(ttl);
    const fs::path album = dir.path() / "album";
    fs::create_directories(album);
    const Track local = song((album / "x.mp3").string(), MusicSource::local);
    std::ofstream(album / "cover.jpg") << jpeg(10, 10, 200, 0, 0);
    EXPECT_GT(redAt(*load(local, at(0))->image, 0, 0), 150);
    std::ofstream(album / "cover.jpg") << jpeg(10, 10, 0, 0, 200);
    make(ttl);
    EXPECT_GT(redAt(*load(local, at(ttl))->image, 0, 0), 150);
    EXPECT_LT(redAt(*load(local, at(ttl + 1))->image, 0, 0), 50);
    EXPECT_EQ(runtime->calls, 0);
}

TEST_F(ArtworkServiceTest, AccentOfTheCover) {
    make();
    client->answer(url(a), png(*solid(64, 64, 255, 0, 0)));
    std::optional<std::string> accent;
    service->accentHex(a, at(0), [&](TaskResult<std::optional<std::string>> r) { accent = r.value(); });
    settle();
    EXPECT_EQ(accent, "#F12222");
}

}  // namespace
