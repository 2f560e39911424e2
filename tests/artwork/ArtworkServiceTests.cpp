#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "ArtworkTestSupport.h"
#include "artwork/ArtworkService.h"
#include "artwork/LocalArtworkLoader.h"
#include "foundation/Cancellation.h"
#include "foundation/ManualMainQueue.h"
#include "support/Eventually.h"
#include "support/StalledShare.h"
#include "support/TempDir.h"

using namespace velto;
using namespace velto::artworktest;
namespace fs = std::filesystem;

namespace {

ArtworkDate at(double seconds) {
    return ArtworkDate(std::chrono::duration_cast<ArtworkDate::duration>(
        std::chrono::duration<double>(1'700'000'000 + seconds)));
}

std::exception_ptr networkFailure() { return std::make_exception_ptr(SourceError::network(nullptr)); }

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
};

class ArtworkServiceTest : public ::testing::Test {
protected:
    void make(double ttl = 1000, ArtworkService::Limits limits = {1 << 30, 1 << 30, 1200},
              ArtworkAddressPolicy policy = ArtworkAddressPolicy()) {
        service = std::make_unique<ArtworkService>(runtime, client, dir.path() / "Artwork", ttl,
                                                   limits, ArtworkService::Environment{pool, queue, policy});
    }

    std::shared_ptr<Outcome> ask(const Track* track, ArtworkDate now, ArtworkRequest* handle = nullptr,
                                 const std::string& address = "") {
        auto outcome = std::make_shared<Outcome>();
        auto done = [outcome](TaskResult<ArtworkImagePtr> r) {
            outcome->answered = true;
            r.ok() ? void(outcome->image = r.value()) : void(outcome->error = r.error());
        };
        auto request = track ? service->image(*track, now, done) : service->imageAtAddress(address, now, done);
        if (handle) *handle = request;
        return outcome;
    }

    void serveOnPoolWithCoverOfCCached(WorkerPool& pool);

    // Lets the worker (one thread, jobs in order) and the main queue run dry.
    void settle() {
        for (int round = 0; round < 6; ++round) {
            bool reached = false;
            pool.submit([&] { queue.post([&] { reached = true; }); });
            ASSERT_TRUE(queue.runUntil([&] { return reached; }));
        }
    }

    std::shared_ptr<Outcome> load(const Track& track, ArtworkDate now) {
        auto outcome = ask(&track, now);
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
    const Track a = song("a"), b = song("b"), c = song("c");
};

TEST_F(ArtworkServiceTest, ConcurrentCallsShareOneLoadAndTheImageInstance) {
    make();
    client->answer(url(a), jpeg(3000, 1500, 200, 0, 0));
    auto first = ask(&a, at(0));
    auto second = ask(&a, at(0));
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 2);
    settle();
    ASSERT_TRUE(first->image);
    EXPECT_EQ(first->image, second->image);
    EXPECT_EQ(first->image->width(), 1200);
    EXPECT_EQ(runtime->calls, 1);
    EXPECT_EQ(client->count(url(a)), 1);

    // Stamped with the load's time; a later memory hit is the same instance and leaves the file be.
    char stamp[32] = {};
    ASSERT_GT(::getxattr(file(a).c_str(), "user.velto.created", stamp, sizeof stamp), 0);
    EXPECT_EQ(std::stoll(stamp), at(0).time_since_epoch().count());
    struct stat before{}, after{};
    ::stat(file(a).c_str(), &before);
    EXPECT_EQ(load(a, at(500))->image, first->image);
    ::stat(file(a).c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(client->count(url(a)), 1);
}

TEST_F(ArtworkServiceTest, CancelledWaitersLeaveAloneAndTheLastOneStopsTheLoad) {
    make();
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    client->hold(true);
    ArtworkRequest leaving;
    auto gone = ask(&a, at(0), &leaving);
    auto staying = ask(&a, at(0));
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
    auto dropped = ask(&a, at(1), &only);
    client->waitUntilHeld();
    only.cancel();
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 0);
    client->answer(url(a), jpeg(10, 10, 0, 0, 200));
    auto fresh = ask(&a, at(1));
    client->hold(false);
    settle();
    EXPECT_FALSE(dropped->answered);
    EXPECT_LT(redAt(*fresh->image, 0, 0), 50);
    EXPECT_EQ(load(a, at(2))->image, fresh->image);
}

TEST_F(ArtworkServiceTest, FailuresReachEveryWaiterAndAreNotRemembered) {
    make();
    client->answer(url(a), "", networkFailure());
    auto first = ask(&a, at(0));
    auto second = ask(&a, at(0));
    settle();
    EXPECT_EQ(first->message(), "网络失败");
    EXPECT_EQ(first->error, second->error);
    client->answer(url(a), "not a picture");
    EXPECT_EQ(load(a, at(1))->message(), "封面数据无法解码");
    EXPECT_EQ(client->count(url(a)), 2);

    // A cancellation nobody asked for still ends the load and answers its waiter.
    client->answer(url(a), "", std::make_exception_ptr(CancellationError()));
    EXPECT_TRUE(isCancellation(load(a, at(2))->error));
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 0);

    EXPECT_EQ(load(song("/nowhere/x.mp3", MusicSource::local), at(3))->message(), "本地音频暂无封面");
}

TEST_F(ArtworkServiceTest, FreshUntilStampPlusTtlThenServedStaleAndRefreshed) {
    const double ttl = 100;
    make(ttl);
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    auto original = load(a, at(0))->image;
    make(ttl);  // a new service has nothing in memory
    auto fromDisk = load(a, at(ttl - 1));
    EXPECT_NE(fromDisk->image, original);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 1);

    // At exactly t + T: served, kept out of memory, refreshed behind it. The refresh fails, so
    // stale hits start none until 300 s later.
    make(ttl);
    client->answer(url(a), "", networkFailure());
    EXPECT_TRUE(load(a, at(ttl))->image);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 0);
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
    // A folder that cannot be written leaves no disk tier, and the service working.
    fs::remove_all(dir.path() / "Artwork");
    std::ofstream(dir.path() / "Artwork") << "in the way";
    EXPECT_TRUE(load(a, at(1))->image);
    EXPECT_TRUE(load(a, at(2))->image);
    EXPECT_EQ(client->count(url(a)), 5);
}

TEST_F(ArtworkServiceTest, AdmissionOverBudgetEvictsTheLeastRecentlyTouched) {
    const std::int64_t cost = 10 * 10 * 4;
    make(1000, {2 * cost, 1 << 20, 1200});
    for (const Track* track : {&a, &b, &c}) client->answer(url(*track), jpeg(10, 10, 9, 9, 9));
    const auto first = load(a, at(0))->image;
    const auto second = load(b, at(0))->image;
    EXPECT_EQ(load(a, at(1))->image, first);  // a memory hit: now b is the oldest
    const auto third = load(c, at(2))->image;
    EXPECT_EQ(service->cacheUsage().memoryBytes, 2 * cost);
    // a and c are still the instances in memory; b went and comes back from its file.
    EXPECT_EQ(load(a, at(3))->image, first);
    EXPECT_EQ(load(c, at(3))->image, third);
    EXPECT_NE(load(b, at(3))->image, second);
    EXPECT_EQ(client->count(url(a)) + client->count(url(b)) + client->count(url(c)), 3);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 2);
}

TEST_F(ArtworkServiceTest, UnusableCacheFilesAreDeletedAndLoadedAgain) {
    make();
    settle();  // the service's first trim of its folder would take a file planted half-written
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    client->answer(url(b), jpeg(10, 10, 200, 0, 0));
    std::ofstream(file(a)) << "corrupt";
    std::ofstream(file(b)) << jpeg(4, 4, 1, 2, 3);
    ASSERT_EQ(::setxattr(file(b).c_str(), "user.velto.created", "soon", 4, 0), 0);
    EXPECT_EQ(load(a, at(0))->image->width(), 10);
    EXPECT_EQ(load(b, at(0))->image->width(), 10);
    make();
    EXPECT_EQ(load(a, at(1))->image->width(), 10);
    EXPECT_EQ(client->count(url(a)) + client->count(url(b)), 2);
}

TEST_F(ArtworkServiceTest, RemovingArtworkCancelsItsWaitersAndDeletesTheFile) {
    make();
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    load(a, at(0));
    ASSERT_TRUE(fs::exists(file(a)));
    client->hold(true);
    auto waiting = ask(&b, at(0));
    client->waitUntilHeld();
    service->removeCachedArtwork(b);
    service->removeCachedArtwork(a);
    client->hold(false);
    settle();
    EXPECT_TRUE(isCancellation(waiting->error));
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

TEST_F(ArtworkServiceTest, AddressesOutsideThePolicyFailWithoutARequest) {
    make();
    const std::string local = "http://127.0.0.1/p.jpg";
    client->answer(local, jpeg(10, 10, 200, 0, 0));
    auto refused = ask(nullptr, at(0), nullptr, local);
    settle();
    EXPECT_EQ(refused->message(), "封面请求返回异常");
    EXPECT_EQ(client->count(local), 0);

    make(1000, {1 << 20, 1 << 20, 1200}, ArtworkAddressPolicy(true));
    auto allowed = ask(nullptr, at(0), nullptr, local);
    settle();
    EXPECT_TRUE(allowed->image);
}

// A service on its own pool, with song c's cover already on disk.
void ArtworkServiceTest::serveOnPoolWithCoverOfCCached(WorkerPool& pool) {
    service = std::make_unique<ArtworkService>(runtime, client, dir.path() / "Artwork", 1000,
                                               ArtworkService::Limits{1 << 20, 1 << 20, 1200},
                                               ArtworkService::Environment{pool, queue});
    bool stored = false;
    service->persist(solid(10, 10, 200, 0, 0), c.musicID(), at(0), ArtworkService::Existing::replace,
                     [&](bool written) { stored = written; });
    ASSERT_TRUE(queue.runUntil([&] { return stored; }));
}

// Downloads that never end take at most half the pool; other work still runs beside them, and
// a cover already on disk is shown without waiting for a download's turn.
TEST_F(ArtworkServiceTest, HangingDownloadsLeaveWorkersForOtherWork) {
    WorkerPool four{4};
    ASSERT_NO_FATAL_FAILURE(serveOnPoolWithCoverOfCCached(four));
    client->hold(true);
    std::vector<std::shared_ptr<Outcome>> covers;
    for (int i = 0; i < 8; ++i) {
        const Track track = song(std::to_string(i));
        client->answer(url(track), jpeg(10, 10, 9, 9, 9));
        covers.push_back(ask(&track, at(0)));
    }
    client->waitUntilHeld();
    bool ran = false;
    four.submit([&] { queue.post([&] { ran = true; }); });
    EXPECT_TRUE(queue.runUntil([&] { return ran; }));
    EXPECT_LE(client->held(), 2);
    auto cached = ask(&c, at(1));
    EXPECT_TRUE(queue.runUntil([&] { return cached->answered; }, std::chrono::seconds(3)));
    EXPECT_TRUE(cached->image);
    client->hold(false);
    EXPECT_TRUE(queue.runUntil([&] {
        return std::all_of(covers.begin(), covers.end(), [](const auto& o) { return o->answered; });
    }));
    service.reset();
}

// Local covers on a share that stopped answering give their workers back at the deadline and
// count as missing until asked again; covers already on disk never wait for them. When the
// share answers, every cover given up is announced: those whose reads were left behind, and
// those whose reads never began as the share held as many as it may.
TEST_F(ArtworkServiceTest, StalledLocalCoversAreMissingPastTheirDeadline) {
    WorkerPool eight{8};  // two reads of one place at a time
    ASSERT_NO_FATAL_FAILURE(serveOnPoolWithCoverOfCCached(eight));
    const fs::path album = dir.path() / "share";
    fs::create_directories(album);
    std::ofstream(album / "cover.jpg") << jpeg(10, 10, 0, 0, 200);
    std::vector<std::string> late;
    auto observing =
        service->observeLateCovers([&](const std::string& key) { late.push_back(key); });
    auto stalled = std::make_unique<StalledShare>();
    std::vector<std::shared_ptr<Outcome>> covers;
    auto local = [&](int i) {
        return song((album / (std::to_string(i) + ".mp3")).string(), MusicSource::local);
    };
    for (int i = 0; i < 6; ++i) {
        const Track track = local(i);
        covers.push_back(ask(&track, at(0)));
    }
    ASSERT_TRUE(stalled->waitUntilHeld(2));
    auto cached = ask(&c, at(1));
    EXPECT_TRUE(queue.runUntil([&] { return cached->answered; }, std::chrono::seconds(3)));
    EXPECT_TRUE(cached->image);

    auto answered = [&] {
        return std::count_if(covers.begin(), covers.end(), [](const auto& o) { return o->answered; });
    };
    int leftBehind = -1;  // a cover whose read was left behind
    for (long round = 1; round <= 3; ++round) {
        ASSERT_TRUE(eventually([&] { return queue.pendingTimerCount() == 2; }));
        // A deadline set and passed before its read began would leave no read held.
        // The last two find the share holding as many reads as it may: the last one at least
        // waits for room.
        auto& reads = AbandonableWork::shared();
        ASSERT_TRUE(round < 3 ? stalled->waitUntilHeld(std::size_t(2 * round)) : eventually([&] {
            return reads.waiting() >= 1 && reads.running() + reads.waiting() == 6;
        }));
        EXPECT_EQ(answered(), 2 * (round - 1));
        queue.advance(seconds(ArtworkService::localReadDeadline));
        // Far within the bound of the reads themselves, which would answer them too.
        EXPECT_TRUE(queue.runUntil([&] { return answered() == 2 * round; }, std::chrono::seconds(2)));
        if (round == 1)
            for (int i = 0; i < 6; ++i)
                if (covers[std::size_t(i)]->answered) leftBehind = i;
    }
    for (const auto& cover : covers) EXPECT_EQ(cover->message(), "本地音频暂无封面");
    EXPECT_EQ(service->cacheUsage().pendingConsumers, 0);
    // Asked again while its read still hangs, a cover is missing at once.
    ASSERT_GE(leftBehind, 0);
    const Track first = local(leftBehind);
    const std::size_t held = AbandonableWork::shared().running();
    auto retried = ask(&first, at(2));
    EXPECT_TRUE(queue.runUntil([&] { return retried->answered; }));
    EXPECT_EQ(retried->message(), "本地音频暂无封面");
    EXPECT_EQ(AbandonableWork::shared().running(), held);
    EXPECT_TRUE(late.empty());
    // The share answers: the reads left behind end, and the covers they found are kept and
    // announced, so the placeholders shown can give way.
    stalled.reset();
    ASSERT_TRUE(queue.runUntil([&] { return late.size() >= 6; }));
    std::sort(late.begin(), late.end());
    late.erase(std::unique(late.begin(), late.end()), late.end());
    ASSERT_EQ(late.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(late[std::size_t(i)], local(i).musicID());
    const Track again = local(0);
    auto read = ask(&again, at(3));
    ASSERT_TRUE(queue.runUntil([&] { return read->answered; }));
    ASSERT_TRUE(read->image);
    EXPECT_LT(redAt(*read->image, 0, 0), 50);
    EXPECT_EQ(service->cacheUsage().memoryEntries, 7);
    service.reset();
}

// A share that wakes answers the reads it held whatever they find: reads of songs without a
// cover, ending with no picture, wake it as well, and every cover given up while it slept (also
// those whose reads never began) is read again and announced.
TEST_F(ArtworkServiceTest, ASharesWakeFromCoverlessReadsBringsEveryCoverGivenUp) {
    WorkerPool eight{8};
    service = std::make_unique<ArtworkService>(runtime, client, dir.path() / "Artwork", 1000,
                                               ArtworkService::Limits{1 << 20, 1 << 20, 1200},
                                               ArtworkService::Environment{eight, queue});
    const fs::path share = dir.path() / "share";
    auto local = [&](const std::string& name, bool covered) {
        fs::create_directories(share / name);
        if (covered) std::ofstream(share / name / "cover.jpg") << jpeg(10, 10, 0, 0, 200);
        return song((share / name / "x.mp3").string(), MusicSource::local);
    };
    std::vector<std::string> late;
    auto observing =
        service->observeLateCovers([&](const std::string& key) { late.push_back(key); });
    auto stalled = std::make_unique<StalledShare>(share);
    std::vector<std::shared_ptr<Outcome>> asked;
    for (int i = 0; i < 4; ++i) {
        const Track track = local("bare" + std::to_string(i), false);
        asked.push_back(ask(&track, at(0)));
    }
    ASSERT_TRUE(stalled->waitUntilHeld(1));
    std::vector<Track> covered;
    for (int i = 0; i < 8; ++i) {
        covered.push_back(local("covered" + std::to_string(i), true));
        asked.push_back(ask(&covered.back(), at(0)));
    }
    auto answered = [&] {
        return std::all_of(asked.begin(), asked.end(), [](const auto& o) { return o->answered; });
    };
    for (int round = 0; !answered(); ++round) {
        ASSERT_LT(round, 40);
        ASSERT_TRUE(eventually([&] { return queue.pendingTimerCount() > 0 || answered(); }));
        queue.advance(seconds(ArtworkService::localReadDeadline));
        queue.runUntil([&] { return answered(); }, std::chrono::milliseconds(200));
    }
    for (const auto& outcome : asked) EXPECT_EQ(outcome->message(), "本地音频暂无封面");
    EXPECT_TRUE(late.empty());

    // No time passes: the reads held end, and what follows comes of their answers alone.
    stalled->answer();
    ASSERT_TRUE(queue.runUntil([&] { return late.size() >= covered.size(); }, std::chrono::seconds(5)))
        << late.size() << " of " << covered.size() << " announced";
    std::sort(late.begin(), late.end());
    for (const Track& track : covered)
        EXPECT_TRUE(std::binary_search(late.begin(), late.end(), track.musicID()));
    for (const Track& track : covered) {
        auto again = ask(&track, at(1));
        ASSERT_TRUE(queue.runUntil([&] { return again->answered; }));
        EXPECT_TRUE(again->image);
    }
    stalled.reset();
    service.reset();
}

// Answers of the file system that come only when the test lets them, as from a slow share.
class SlowAnswers {
public:
    // The reads of local covers, each answer held until let through.
    ArtworkService::LocalRead reads() {
        return [this](const Track& track, std::stop_token stop,
                      AbandonableWork::Late<std::optional<std::string>> late,
                      std::function<void()> answered) {
            return LocalArtworkLoader::loadLocalArtworkData(
                track, stop, std::move(late), [this, answered] {
                    pass();
                    answered();
                });
        };
    }
    // Waits, bounded, until an answer waits to be let through; whether one does.
    bool waitUntilWaiting() {
        return eventually([&] { return waiting_.load() > 0; });
    }
    // Lets the waiting answer through and waits, bounded, until the read waits for its next
    // one or has ended; whether it waits.
    bool letOneThrough() {
        const int before = passed_.load();
        {
            std::lock_guard lock(mutex_);
            ++permits_;
        }
        changed_.notify_all();
        EXPECT_TRUE(eventually([&] {
            return passed_.load() > before &&
                   (waiting_.load() > 0 || AbandonableWork::shared().running() == 0);
        }));
        return waiting_.load() > 0;
    }
    void letAllThrough() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }

private:
    void pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait(lock, [&] { return open_ || permits_ > 0; });
        if (!open_) --permits_;
        --waiting_;
        ++passed_;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<int> waiting_{0};
    std::atomic<int> passed_{0};
    int permits_ = 0;
    bool open_ = false;
};

// The deadline of a local cover judges time in which its files gave no answer: a share that
// answers every two seconds gets its cover, however long the read takes in all; one that
// answers once and then hangs is given up a deadline after that answer.
TEST_F(ArtworkServiceTest, LocalCoversAreGivenUpOnlyAfterADeadlineWithoutAnAnswer) {
    SlowAnswers answers;
    service = std::make_unique<ArtworkService>(
        runtime, client, dir.path() / "Artwork", 1000, ArtworkService::Limits{1 << 20, 1 << 20, 1200},
        ArtworkService::Environment{pool, queue, ArtworkAddressPolicy(), answers.reads()});
    const double deadline = ArtworkService::localReadDeadline;
    auto local = [&](const std::string& folder) {
        fs::create_directories(dir.path() / folder);
        std::ofstream(dir.path() / folder / "cover.jpg") << jpeg(10, 10, 0, 0, 200);
        return song((dir.path() / folder / "x.mp3").string(), MusicSource::local);
    };

    // Each answer two seconds after the one before, the whole read far past the deadline.
    const Track slow = local("slow");
    auto slowly = ask(&slow, at(0));
    ASSERT_TRUE(answers.waitUntilWaiting());
    int count = 0;
    do {
        queue.advance(seconds(deadline * 2 / 3));
        EXPECT_FALSE(slowly->answered);
        ASSERT_LT(++count, 20);
    } while (answers.letOneThrough());
    EXPECT_GE(count, 3);
    ASSERT_TRUE(queue.runUntil([&] { return slowly->answered; }));
    ASSERT_TRUE(slowly->image) << slowly->message();
    EXPECT_LT(redAt(*slowly->image, 0, 0), 50);

    const Track hung = local("hung");
    auto hanging = ask(&hung, at(0));
    ASSERT_TRUE(answers.waitUntilWaiting());
    queue.advance(seconds(deadline * 2 / 3));
    ASSERT_TRUE(answers.letOneThrough());
    queue.advance(seconds(deadline - 0.1));
    EXPECT_EQ(queue.pendingTimerCount(), 1u);  // still waited for
    queue.advance(seconds(0.1));
    ASSERT_TRUE(queue.runUntil([&] { return hanging->answered; }));
    EXPECT_EQ(hanging->message(), "本地音频暂无封面");
    answers.letAllThrough();
    EXPECT_TRUE(eventually([] { return AbandonableWork::shared().running() == 0; }));
    service.reset();
}

// Covers of a share that stopped answering hold no more than their place's part of the
// workers: covers of the home disk and of the network pass them at once.
TEST_F(ArtworkServiceTest, AHungShareDelaysNoCoverOfAnotherPlace) {
    WorkerPool four{4};  // one load of a place that does not answer
    service = std::make_unique<ArtworkService>(runtime, client, dir.path() / "Artwork", 1000,
                                               ArtworkService::Limits{1 << 20, 1 << 20, 1200},
                                               ArtworkService::Environment{four, queue});
    const fs::path share = dir.path() / "share", home = dir.path() / "home";
    for (const fs::path& folder : {share, home}) {
        fs::create_directories(folder);
        std::ofstream(folder / "cover.jpg") << jpeg(10, 10, 0, 0, 200);
    }
    StalledShare stalled(share);
    std::vector<std::shared_ptr<Outcome>> shared;
    for (int i = 0; i < 6; ++i) {
        const Track track = song((share / (std::to_string(i) + ".mp3")).string(), MusicSource::local);
        shared.push_back(ask(&track, at(0)));
    }
    ASSERT_TRUE(stalled.waitUntilHeld(1));
    const Track onHome = song((home / "h.mp3").string(), MusicSource::local);
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    auto fromHome = ask(&onHome, at(0));
    auto fromNetwork = ask(&a, at(0));
    // No time passes: no deadline of the share's reads frees a worker.
    EXPECT_TRUE(queue.runUntil([&] { return fromHome->answered && fromNetwork->answered; },
                               std::chrono::seconds(5)));
    EXPECT_TRUE(fromHome->image);
    EXPECT_TRUE(fromNetwork->image);

    stalled.answer();
    EXPECT_TRUE(queue.runUntil([&] {
        return std::all_of(shared.begin(), shared.end(), [](const auto& o) { return o->image != nullptr; });
    }));
    service.reset();
}

// Stale covers of a share that stopped answering are served from disk and refreshed behind
// them in the share's own lane: the refreshes hang there, and network covers pass them.
TEST_F(ArtworkServiceTest, RefreshesOfAHungShareHoldNoNetworkCover) {
    WorkerPool four{4};
    const double ttl = 100;
    auto make = [&] {
        service = std::make_unique<ArtworkService>(runtime, client, dir.path() / "Artwork", ttl,
                                                   ArtworkService::Limits{1 << 20, 1 << 20, 1200},
                                                   ArtworkService::Environment{four, queue});
    };
    make();
    const fs::path share = dir.path() / "share";
    std::vector<Track> covers;
    for (int i = 0; i < 6; ++i) {
        fs::create_directories(share / std::to_string(i));
        std::ofstream(share / std::to_string(i) / "cover.jpg") << jpeg(10, 10, 0, 0, 200);
        covers.push_back(song((share / std::to_string(i) / "x.mp3").string(), MusicSource::local));
        auto loaded = ask(&covers.back(), at(0));
        ASSERT_TRUE(queue.runUntil([&] { return loaded->answered; }));
        ASSERT_TRUE(loaded->image);
    }
    // The covers are written to the cache after they are answered: a stale ask must find them
    // there, not fall through to the share about to hang.
    ASSERT_TRUE(eventually([&] {
        std::size_t written = 0;
        for (const auto& entry : fs::directory_iterator(dir.path() / "Artwork"))
            written += entry.path().extension() == ".img" &&
                       !entry.path().filename().string().starts_with(".");  // not one being written
        return written == covers.size();
    }));
    make();
    StalledShare stalled(share);
    for (const Track& track : covers) {
        auto stale = ask(&track, at(ttl + 1));
        ASSERT_TRUE(queue.runUntil([&] { return stale->answered; }));
        EXPECT_TRUE(stale->image);
    }
    ASSERT_TRUE(stalled.waitUntilHeld(1));
    client->answer(url(a), jpeg(10, 10, 200, 0, 0));
    auto fromNetwork = ask(&a, at(ttl + 1));
    EXPECT_TRUE(queue.runUntil([&] { return fromNetwork->answered; }, std::chrono::seconds(5)));
    EXPECT_TRUE(fromNetwork->image);
    stalled.answer();
    service.reset();
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

}  // namespace
