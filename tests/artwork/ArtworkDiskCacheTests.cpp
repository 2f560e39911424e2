#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "ArtworkTestSupport.h"
#include "artwork/ArtworkCacheHash.h"
#include "artwork/ArtworkDecoder.h"
#include "artwork/ArtworkDiskCache.h"
#include "artwork/ArtworkService.h"
#include "foundation/ManualMainQueue.h"
#include "support/ForwardingMainQueue.h"
#include "support/TempDir.h"

using namespace velto;
using namespace velto::artworktest;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, std::size_t size, long mtime) {
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.insert(entry.path().filename());
    return found;
}

}  // namespace

TEST(ArtworkDiskCache, TrimDeletesOldestImgFilesFirstAndLeavesEverythingElse) {
    TempDir dir;
    const auto& d = dir.path();
    writeFile(d / "b.img", 10, 100);
    writeFile(d / "a.img", 10, 100);  // same date as b: the path decides
    writeFile(d / "c.img", 10, 50);
    writeFile(d / "new.img", 10, 300);
    writeFile(d / "empty.img", 0, 400);
    writeFile(d / "huge.img", 100, 400);
    writeFile(d / "upper.IMG", 100, 1);
    writeFile(d / "other.jpg", 100, 1);
    fs::create_directory(d / "folder.img");
    fs::create_symlink(d / "new.img", d / "link.img");
    ArtworkService::trimDisk(d, 25);
    EXPECT_EQ(names(d), (std::set<std::string>{"b.img", "new.img", "upper.IMG", "other.jpg",
                                               "folder.img", "link.img"}));
    ArtworkService::trimDisk(d, 0);
    EXPECT_EQ(names(d), (std::set<std::string>{"upper.IMG", "other.jpg", "folder.img", "link.img"}));
}

TEST(ArtworkDiskCache, FailedDeletionDoesNotCountAndTheTrimGoesOn) {
    TempDir dir;
    for (long i = 1; i <= 3; ++i) writeFile(dir.path() / (std::to_string(i) + ".img"), 10, i);
    ArtworkDiskCache::trim(dir.path(), 15, [](const fs::path& path) {
        return path.filename() != "1.img" && ::unlink(path.c_str()) == 0;
    });
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"1.img"});
}

// Waits for the service's disk writer to finish the write; whether the file is there then.
bool persisted(const ArtworkService& service, ManualMainQueue& queue, const ArtworkImagePtr& image,
               const std::string& key, ArtworkDate date,
               ArtworkService::Existing existing = ArtworkService::Existing::replace) {
    std::optional<bool> stored;
    service.persist(image, key, date, existing, [&](bool written) { stored = written; });
    EXPECT_TRUE(queue.runUntil([&] { return stored.has_value(); }));
    return stored.value_or(false);
}

TEST(ArtworkDiskCache, PersistWritesWithinTheBudgetOnly) {
    TempDir dir;
    ManualMainQueue queue;
    WorkerPool pool{1};
    const auto image = solid(40, 40, 10, 20, 30);
    const auto size = static_cast<std::int64_t>(ArtworkJPEG::encode(*image, 0.9)->size());
    const auto date = ArtworkDate(std::chrono::seconds(1'700'000'000));
    auto make = [&](double ttl, std::int64_t disk) {
        return std::make_unique<ArtworkService>(nullptr, nullptr, dir.path(), ttl,
                                                ArtworkService::Limits(1, disk, 1200),
                                                ArtworkService::Environment{pool, queue});
    };
    auto exact = make(10, size);
    ASSERT_TRUE(persisted(*exact, queue, image, "wy_1", date));
    struct stat info{};
    ASSERT_EQ(::stat(exact->cacheURL("wy_1").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1'700'000'000);
    // Kept as it is when asked to keep an existing file.
    EXPECT_TRUE(persisted(*exact, queue, image, "wy_1", date + std::chrono::hours(1),
                          ArtworkService::Existing::keep));
    ASSERT_EQ(::stat(exact->cacheURL("wy_1").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1'700'000'000);

    auto tight = make(10, size - 1);
    EXPECT_FALSE(persisted(*tight, queue, image, "wy_2", date));
    EXPECT_FALSE(fs::exists(tight->cacheURL("wy_1")));  // the trim still ran

    EXPECT_FALSE(persisted(*make(0, 1 << 20), queue, image, "wy_3", date));
    EXPECT_FALSE(fs::exists(dir.path() / (ArtworkCacheHash::hexDigest("wy_3") + ".img")));
    EXPECT_EQ(ArtworkCacheHash::hexDigest("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(exact->cacheURL("wy_1").filename().string().size(), 68u);
}

namespace {

// Forwards to a manual queue. While holding, a post made by a worker waits to be let go, so
// the disk job that posts stays under way.
class HoldingQueue final : public ForwardingMainQueue {
public:
    using ForwardingMainQueue::ForwardingMainQueue;

    void post(std::function<void()> work) override {
        {
            std::unique_lock lock(mutex_);
            if (holding_) {
                ++held_;
                changed_.notify_all();
                changed_.wait(lock, [this] { return !holding_; });
            }
        }
        inner_.post(std::move(work));
    }
    void hold(bool holding) {
        std::lock_guard lock(mutex_);
        holding_ = holding;
        changed_.notify_all();
    }
    bool waitUntilHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return held_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool holding_ = false;
    int held_ = 0;
};

}  // namespace

// Every write and deletion of the cache folder takes the one disk queue, one at a time and in
// the order asked: a deletion asked while a write is under way waits for it, so no trim or
// deletion meets a file half written or removes one written after it was asked.
TEST(ArtworkDiskCache, DiskJobsRunOneAtATimeInTheOrderAsked) {
    TempDir dir;
    ManualMainQueue manual;
    HoldingQueue queue(manual);
    WorkerPool pool{2};
    ArtworkService service(nullptr, nullptr, dir.path(), 10, {1, 1 << 20, 1200},
                           ArtworkService::Environment{pool, queue});
    const auto image = solid(8, 8, 10, 20, 30);
    const auto date = ArtworkDate(std::chrono::seconds(1'700'000'000));
    const Track gone = song("gone");
    const fs::path goneFile = service.cacheURL(gone.musicID());
    ASSERT_TRUE(persisted(service, manual, image, gone.musicID(), date));

    queue.hold(true);
    std::optional<bool> stored;
    service.persist(image, "wy_held", date, ArtworkService::Existing::replace,
                    [&](bool written) { stored = written; });
    ASSERT_TRUE(queue.waitUntilHeld());
    service.removeCachedArtwork(gone);
    // The pool's other worker is free: a job asked after the deletion runs at once there, and
    // finds the file still in place.
    std::promise<bool> present;
    pool.submit([&] { present.set_value(fs::exists(goneFile)); });
    auto seen = present.get_future();
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(seen.get());

    queue.hold(false);
    EXPECT_TRUE(manual.runUntil([&] { return stored.has_value(); }));
    EXPECT_TRUE(persisted(service, manual, image, "wy_after", date));
    EXPECT_FALSE(fs::exists(goneFile));
}

// The deletion of a file found unusable runs later, on the disk queue: a file written under the
// name in between is spared.
TEST(ArtworkDiskCache, AnUnusableFileIsDeletedUnlessWrittenAnewMeanwhile) {
    TempDir dir;
    const auto date = ArtworkDate(std::chrono::seconds(1'700'000'000));
    auto decode = [](std::string_view data) { return ArtworkDecoder::downsample(data, 100); };
    std::vector<std::function<void()>> later;
    auto defer = [&](std::function<void()> job) { later.push_back(std::move(job)); };
    for (const char* name : {"rewritten.img", "bad.img"}) {
        std::ofstream(dir.path() / name) << "corrupt";
        EXPECT_FALSE(ArtworkDiskCache::read(dir.path() / name, date, decode, defer));
    }
    ArtworkDiskCache::write(dir.path() / "rewritten.img", jpeg(4, 4, 1, 2, 3), date);
    for (const auto& job : later) job();
    EXPECT_EQ(names(dir.path()), std::set<std::string>{"rewritten.img"});
}
