#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "foundation/files/AbandonableWork.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "support/ThreadStarts.h"

using namespace velto;

namespace {

constexpr auto unbounded = std::chrono::hours(1);

void waitUntilIdle(const AbandonableWork& work) {
    ASSERT_TRUE(eventually([&] { return work.running() == 0; }));
}

// What held reads wait for, like a share that stopped answering. It opens when it goes, and a
// read held longer than a caller should ever wait goes on, so that a caller that fails to leave
// fails its check instead of hanging the run.
void hold(const std::shared_future<void>& released) {
    released.wait_for(std::chrono::seconds(5));
}

class Share {
  public:
    ~Share() { answer(); }
    void answer() {
        if (answered_) return;
        answered_ = true;
        promise_.set_value();
    }
    // A read holds on a copy, which outlives the share.
    std::shared_future<void> released() const { return released_; }

    // A read held by the share that first asks its caller to stop, as a caller giving up would.
    auto stoppingItsCaller(std::stop_source& caller) const {
        return [&caller, released = released()](std::stop_token) {
            caller.request_stop();
            hold(released);
            return 0;
        };
    }

  private:
    std::promise<void> promise_;
    std::shared_future<void> released_ = promise_.get_future().share();
    bool answered_ = false;
};

}  // namespace

TEST(AbandonableWork, AStopFreesTheCallerOfAHeldReadAndHeldReadsAreCapped) {
    for (int round = 0; round < 100; ++round) {
        AbandonableWork work(2, unbounded);
        Share share;
        std::atomic<int> sawStop = 0;
        // Reads held like those of a stalled share: each asks its caller to stop, then waits.
        for (int held = 0; held < 2; ++held) {
            std::stop_source caller;
            auto read = [&caller, released = share.released(), &sawStop](std::stop_token stop) {
                caller.request_stop();
                hold(released);
                sawStop += stop.stop_requested();
                return 0;
            };
            EXPECT_THROW(work.run<int>(caller.get_token(), read), CancellationError);
        }
        EXPECT_EQ(work.abandoned(), 2u);
        const auto value = [](std::stop_token) { return 7; };
        EXPECT_THROW(work.run<int>({}, value), AbandonableWork::Refused);
        share.answer();
        waitUntilIdle(work);
        // The abandoned reads saw the stop too, so reads that can end do end.
        EXPECT_EQ(sawStop, 2);
        // Threads whose work ended wait for more: reads one after another start none.
        const auto started = threadsStarted();
        for (int read = 0; read < 3; ++read) {
            ASSERT_TRUE(eventually([&] { return work.keptIdle() > 0; }));
            EXPECT_EQ(work.run<int>({}, value), 7);
        }
        EXPECT_EQ(threadsStarted(), started);
    }
}

// Past its bound a held read is left behind as if stopped; only reads left behind fill the
// cap, so reads whose callers still wait never turn a healthy one away, and a file left behind
// is not read again while it hangs.
TEST(AbandonableWork, PastItsBoundACallerLeavesAndOnlyReadsLeftBehindAreCapped) {
    Share share;
    AbandonableWork work(1, unbounded);
    std::promise<void> started;
    auto waiting = std::async(std::launch::async, [&] {
        return work.run<int>({}, [&started, released = share.released()](std::stop_token) {
            started.set_value();
            hold(released);
            return 1;
        });
    });
    started.get_future().wait();
    EXPECT_EQ(work.run<int>({}, [](std::stop_token) { return 2; }), 2);

    AbandonableWork bounded(2, std::chrono::seconds(0));
    std::atomic<int> sawStop = 0;
    auto held = [&sawStop, released = share.released()](std::stop_token stop) {
        hold(released);
        sawStop += stop.stop_requested();
        return 3;
    };
    const auto quick = [](std::stop_token) { return 4; };
    EXPECT_THROW(bounded.run<int>({}, held, "a"), AbandonableWork::TimedOut);
    // A file whose read was left behind hanging is not read again meanwhile.
    EXPECT_THROW(bounded.run<int>({}, quick, "a"), AbandonableWork::Busy);
    EXPECT_EQ(bounded.running(), 1u);
    EXPECT_THROW(bounded.run<int>({}, held, "b"), AbandonableWork::TimedOut);
    EXPECT_EQ(bounded.abandoned(), 2u);
    EXPECT_THROW(bounded.run<int>({}, quick, "c"), AbandonableWork::Refused);

    share.answer();
    EXPECT_EQ(waiting.get(), 1);
    waitUntilIdle(bounded);
    EXPECT_EQ(sawStop, 2);
    EXPECT_EQ(bounded.abandoned(), 0u);
}

// A read's place is the mount it goes through first that may not answer, links followed up to
// it and not beyond: a link on a share is not read, as the read itself goes through the share.
// Else it is the mount holding the file: the deepest, by whole names. `..` after a link leads to
// the folder above the link's target, which may lie off the share.
TEST(AbandonableWork, APlaceIsTheMountAReadGoesThroughFirst) {
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path home = fs::canonical(dir.path()) / "home";
    const fs::path share = home.parent_path() / "nas";
    const fs::path disk = home.parent_path() / "usb disk";
    for (const auto& folder : {home / "Albums", share / "Music", disk / "Albums"})
        fs::create_directories(folder);
    // A link a share holds goes nowhere it could be followed from without the share.
    fs::create_directory_symlink(disk, share / "Elsewhere");
    fs::create_directory_symlink("../nas/Music", home / "Music");
    fs::create_directory_symlink(disk / "Albums", home / "Disk");
    fs::create_directory_symlink("Music/../Elsewhere", home / "Through");
    fs::create_symlink(home / "Loop", home / "Loop");
    fs::create_directory_symlink(share, home / "Nas");
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream table;
    table << in.rdbuf() << "900 1 0:90 / " << share.string() << " rw - nfs4 nas:/music rw\n"
          << "901 1 8:17 / " << (home.parent_path() / "usb\\040disk").string()
          << " rw - ext4 /dev/sdb1 rw\n"
          << "902 1 0:91 / /media/music rw - cifs //nas/music rw\n";
    auto place = [&](const fs::path& file) {
        return AbandonableWork::placeOf(file.string(), table.str());
    };
    const std::string homePlace = place(home / "song.mp3");
    EXPECT_NE(homePlace, share.string());
    EXPECT_EQ(place(home / "Albums" / "a.mp3"), homePlace);
    EXPECT_EQ(place(home / "Loop" / "a.mp3"), homePlace);
    EXPECT_EQ(place(home / "Music" / "a.mp3"), share.string());
    EXPECT_EQ(place(home / "Music" / ".." / "Elsewhere" / "a.mp3"), share.string());
    EXPECT_EQ(place(home / "Through" / "a.mp3"), share.string());
    EXPECT_EQ(place(home / "Nas"), share.string());
    EXPECT_EQ(place(home / "Nas" / ".." / "home" / "song.mp3"), homePlace);
    EXPECT_EQ(place(share / ".." / "home" / "song.mp3"), homePlace);
    EXPECT_EQ(place(share / "Elsewhere" / "a.mp3"), share.string());
    EXPECT_EQ(place(home / "Disk" / "a.mp3"), disk.string());
    EXPECT_EQ(place("/media/music/a.mp3"), "/media/music");
    EXPECT_EQ(place("/media/music"), "/media/music");
    EXPECT_NE(place("/media/music2/a.mp3"), "/media/music");
    EXPECT_NE(place("/media/mus"), "/media/music");
}

// Reads left behind on a share that stopped answering hold a few threads there; the callers
// that come after wait their turn, within their stop, and files elsewhere read as ever, though
// the share is reached through a link on their disk.
TEST(AbandonableWork, ReadsHeldOnOneStalledPlaceLeaveOtherPlacesFree) {
    Share share;
    AbandonableWork work(8, unbounded, 2);
    TempDir dir;
    // Its own mount on every Linux, and never read here: the reads are held by the share.
    std::filesystem::create_directory_symlink("/proc/velto-stalled-share", dir.path() / "Music");
    const std::string stalled = (dir.path() / "Music").string() + "/";
    const std::string healthy = (dir.path() / "song.mp3").string();
    EXPECT_EQ(AbandonableWork::placeOf(stalled + "a.mp3"), "/proc");
    EXPECT_NE(AbandonableWork::placeOf(healthy), "/proc");

    for (int i = 0; i < 12; ++i) {
        std::stop_source caller;
        auto asked = std::async(std::launch::async, [&] {
            return work.run<int>(caller.get_token(), share.stoppingItsCaller(caller),
                                 stalled + std::to_string(i) + ".mp3");
        });
        // The caller leaves as soon as its read is held, or while it waits its turn.
        ASSERT_TRUE(eventually([&] {
            return caller.stop_requested() || work.waiting() == 1 ||
                   asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        }));
        caller.request_stop();
        EXPECT_THROW(asked.get(), CancellationError) << "read " << i;
    }
    EXPECT_EQ(work.running(), 2u);
    const auto quick = [](std::stop_token) { return 7; };
    auto beside = std::async(std::launch::async, [&] { return work.run<int>({}, quick, healthy); });
    const bool read = eventually(
        [&] { return beside.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_TRUE(read) << "a read of another disk waits for the stalled share";
    if (!read) share.answer();
    EXPECT_EQ(beside.get(), 7);

    share.answer();
    waitUntilIdle(work);
    EXPECT_EQ(work.run<int>({}, quick, stalled + "0.mp3"), 7);
}

// A caller waiting its turn behind reads held at its file's place waits no longer than it would
// for its own read: its stop, its patience, the work's bound. And when a held read there ends,
// it goes on.
TEST(AbandonableWork, AWaitForRoomEndsWithItsCallerOrWhenAHeldReadEnds) {
    Share share;
    AbandonableWork work(8, unbounded, 1);
    const std::string place = "/proc/velto-stalled-share/";
    {
        std::stop_source caller;
        EXPECT_THROW(work.run<int>(caller.get_token(), share.stoppingItsCaller(caller), place + "held.mp3"),
                     CancellationError);
    }
    const auto quick = [](std::stop_token) { return 7; };
    auto waitFor = [&](std::stop_token stop, AbandonableWork::Late<int> late) {
        return std::async(std::launch::async, [&work, &place, quick, stop, late] {
            return work.run<int>(stop, quick, place + "next.mp3", late);
        });
    };
    auto ready = [](std::future<int>& asked) {
        return eventually(
            [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    };

    std::stop_source patience;
    auto impatient = waitFor({}, {patience.get_token(), [](int) {}});
    ASSERT_TRUE(eventually([&] { return work.waiting() == 1; }));
    patience.request_stop();
    EXPECT_TRUE(ready(impatient));
    EXPECT_THROW(impatient.get(), AbandonableWork::TimedOut);

    std::stop_source stop;
    auto stopped = waitFor(stop.get_token(), {});
    ASSERT_TRUE(eventually([&] { return work.waiting() == 1; }));
    stop.request_stop();
    EXPECT_TRUE(ready(stopped));
    EXPECT_THROW(stopped.get(), CancellationError);

    std::stop_source last;
    auto patient = waitFor(last.get_token(), {});
    ASSERT_TRUE(eventually([&] { return work.waiting() == 1; }));
    share.answer();
    const bool woke = ready(patient);
    last.request_stop();
    EXPECT_TRUE(woke);
    EXPECT_EQ(patient.get(), 7);
    waitUntilIdle(work);

    // Neither stop nor patience: the bound ends the wait, and the work never starts, though the
    // place makes room later.
    Share later;
    AbandonableWork bounded(8, std::chrono::seconds(0), 1);
    auto heldLater = [released = later.released()](std::stop_token) {
        hold(released);
        return 0;
    };
    EXPECT_THROW(bounded.run<int>({}, heldLater, place + "held.mp3"), AbandonableWork::TimedOut);
    std::atomic<int> started = 0;
    auto counted = [&started](std::stop_token) { return ++started; };
    EXPECT_THROW(bounded.run<int>({}, counted, place + "next.mp3"), AbandonableWork::TimedOut);
    later.answer();
    waitUntilIdle(bounded);
    EXPECT_EQ(started, 0) << "the wait for room outlived the bound";
}
