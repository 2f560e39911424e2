#include <fcntl.h>
#include <glib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <gst/gst.h>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "platform/StreamHeads.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
#include "platform/gstreamer/StreamHeadSource.h"
#include "support/AtScopeEnd.h"
#include "support/FakeHttpServer.h"
#include "support/RangeIgnoringAnswer.h"
#include "support/TempDir.h"
#include "support/ThreadStarts.h"
#include "support/WavFile.h"

// Finds the playbin a player made or used again last, through the tracing hooks that any tracer
// object may register.
namespace {

std::atomic<GstElement*> latestPlaybin{nullptr};
std::atomic<int> playbinsMade{0};

struct PlaybinFinder {
    GstTracer parent;
};
struct PlaybinFinderClass {
    GstTracerClass parent;
};

G_DEFINE_TYPE(PlaybinFinder, playbin_finder, GST_TYPE_TRACER)

// Holds a streaming thread until the test opens the gate; the gate below holds the one that
// asked for the next stream, once the player has given it.
struct HandOverGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool reached = false;
    bool open = false;
    std::function<void()> onReached;

    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return open; });
    }
    bool wasReached() {
        std::lock_guard lock(mutex);
        return reached;
    }
};
std::atomic<HandOverGate*> handOverGate{nullptr};
// ... and the one that holds it before the player is asked.
std::atomic<HandOverGate*> askGate{nullptr};

void holdAt(std::atomic<HandOverGate*>& which) {
    HandOverGate* gate = which;
    if (!gate) return;
    std::unique_lock lock(gate->mutex);
    gate->reached = true;
    if (gate->onReached) gate->onReached();
    gate->changed.wait(lock, [gate] { return gate->open; });
}
void holdAfterHandOver(GstElement*, gpointer) { holdAt(handOverGate); }
void holdBeforeHandOver(GstElement*, gpointer) { holdAt(askGate); }

// The playbin that last told it played to its end.
std::atomic<GstElement*> endPostedBy{nullptr};

void onPostMessagePre(GstTracer*, guint64, GstElement* element, GstMessage* message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS &&
        std::string_view(G_OBJECT_TYPE_NAME(element)) == "GstPlayBin")
        endPostedBy = element;
}

// Called whenever a playbin is given an address.
std::atomic<std::function<void()>*> onAddress{nullptr};

void addressGiven(GObject* playbin, GParamSpec*, gpointer) {
    latestPlaybin = GST_ELEMENT(playbin);
    if (auto* callback = onAddress.load()) (*callback)();
}

// Runs on the thread that takes `playbin` (null: any playbin) through `transition`, inside the
// change, once.
struct StateChangeHook {
    GstElement* playbin = nullptr;
    GstStateChange transition = GST_STATE_CHANGE_PAUSED_TO_PLAYING;
    std::function<void(GstElement* playbin)> inside;
};
std::atomic<StateChangeHook*> stateChangeHook{nullptr};

void onChangeStatePre(GstTracer*, guint64, GstElement* element, GstStateChange transition) {
    StateChangeHook* hook = stateChangeHook;
    if (!hook || transition != hook->transition ||
        (hook->playbin ? element != hook->playbin
                       : std::string_view(G_OBJECT_TYPE_NAME(element)) != "GstPlayBin"))
        return;
    stateChangeHook = nullptr;
    hook->inside(element);
}

void onElementNew(GstTracer*, guint64, GstElement* element) {
    if (std::string_view(G_OBJECT_TYPE_NAME(element)) != "GstPlayBin") return;
    latestPlaybin = element;
    ++playbinsMade;
    // Before and after the player's own handler, which sets the next stream's address.
    g_signal_connect(element, "about-to-finish", G_CALLBACK(holdBeforeHandOver), nullptr);
    g_signal_connect_after(element, "about-to-finish", G_CALLBACK(holdAfterHandOver), nullptr);
    g_signal_connect(element, "notify::uri", G_CALLBACK(addressGiven), nullptr);
}
void playbin_finder_class_init(PlaybinFinderClass*) {}
void playbin_finder_init(PlaybinFinder* self) {
    gst_tracing_register_hook(GST_TRACER(self), "element-new", G_CALLBACK(onElementNew));
    gst_tracing_register_hook(GST_TRACER(self), "element-change-state-pre",
                              G_CALLBACK(onChangeStatePre));
    gst_tracing_register_hook(GST_TRACER(self), "element-post-message-pre",
                              G_CALLBACK(onPostMessagePre));
}

bool findPlaybins() {
    gst_init(nullptr, nullptr);
    static GstTracer* finder = GST_TRACER(g_object_new(playbin_finder_get_type(), nullptr));
    return finder != nullptr;
}

GstState targetState(GstElement* element) {
    GST_OBJECT_LOCK(element);
    GstState target = GST_STATE_TARGET(element);
    GST_OBJECT_UNLOCK(element);
    return target;
}

}  // namespace

namespace velto {
namespace {

using Status = QueuePlayer::TimeControlStatus;
using SinkBuffer = GStreamerQueuePlayer::SinkBuffer;
using Events = std::vector<std::string>;

constexpr int sampleRate = 44100;

// A number of the calling thread's own. Thread ids are given again once a thread has ended,
// and the player's threads come and go.
std::uint64_t threadSerial() {
    static std::atomic<std::uint64_t> last{0};
    thread_local const std::uint64_t serial = ++last;
    return serial;
}

class GStreamerQueuePlayerTest : public ::testing::Test {
  protected:
    // A GStreamer warning is a fault of the player's (data let onto a pad not told of its
    // stream, a pad that would not go down): it ends the test. Any test may look at the
    // playbins a player makes.
    void SetUp() override {
        g_log_set_fatal_mask("GStreamer",
                             GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
        ASSERT_TRUE(findPlaybins());
    }

    // A player of its own for each round of a test: what the one before heard and told is
    // forgotten once it is replaced.
    void makePlayer(const std::string& sink = "fakesink sync=false",
                    std::function<void(std::function<void()>)> startThread = {},
                    std::function<bool(const std::string&)> fileReadable = {}) {
        GStreamerQueuePlayer::Options options;
        options.audioSink = sink;
        options.startThread = std::move(startThread);
        options.fileReadable = std::move(fileReadable);
        options.sinkBufferProbe = [this](const SinkBuffer& buffer) {
            ++probeCalls;
            std::lock_guard lock(mutex);
            buffers.push_back(buffer);
            queue.post([] {});  // wakes a runUntil that waits for the sink
        };
        player = std::make_unique<GStreamerQueuePlayer>(queue, options);
        player->addItemStatusObserver([this](const PlayerItemPtr& item) {
            const char* names[] = {"unknown", "ready", "failed"};
            record("status " + name(item) + " " + names[static_cast<int>(item->status())]);
        });
        player->addCurrentItemObserver(
            [this](const PlayerItemPtr& item) { record("current " + name(item)); });
        player->addPlayedToEndObserver(
            [this](const PlayerItemPtr& item) { record("end " + name(item)); });
        player->addStalledObserver(
            [this](const PlayerItemPtr& item) { record("stalled " + name(item)); });
        player->addFailedToPlayToEndObserver([this](const PlayerItemPtr& item, const std::string&) {
            record("broke " + name(item));
        });
        player->addTimeControlStatusObserver([this](Status status) { timeControl = status; });
        events.clear();
        clearSinkBuffers();
    }
    // Starts the player's threads, `live` counting those not yet ended.
    static std::function<void(std::function<void()>)> countedThreads(
        std::shared_ptr<std::atomic<int>> live) {
        return [live](std::function<void()> work) {
            ++*live;
            std::thread([live, work = std::move(work)] {
                work();
                --*live;
            }).detach();
        };
    }

    PlayerItemPtr item(const std::string& label, double seconds, double amplitude = 0.5) {
        auto path = dir.path() / (label + ".wav");
        frames[label] = writeWavFile(path, seconds, sampleRate, 2, amplitude);
        return named(label, uriOf(path));
    }

    PlayerItemPtr named(const std::string& label, const std::string& uri) {
        auto result = std::make_shared<PlayerItem>(uri);
        labels[result->id()] = label;
        return result;
    }

    // Writes a song `label` of `seconds` at label.wav, counting its frames, and returns its bytes.
    std::string songBytes(const std::string& label, double seconds, int rate = sampleRate,
                          int channels = 2, double amplitude = 0.5) {
        auto path = dir.path() / (label + ".wav");
        frames[label] = writeWavFile(path, seconds, rate, channels, amplitude);
        std::ostringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }

    // A server whose handlers hold each request until the test lets it through: the n-th once
    // n are let. Each request wakes the queue as it comes. Its end lets every request through
    // before the server stops, which waits for its handlers.
    struct HeldServer {
        explicit HeldServer(ManualMainQueue& queue, int let = 0) : queue(queue), let(let) {}
        ~HeldServer() { letThrough(1 << 20); }
        // In a handler: waits for the request's turn, and returns it (1 for the first).
        int hold() {
            std::unique_lock lock(mutex);
            const int turn = ++asked;
            queue.post([] {});
            changed.wait(lock, [&] { return let >= turn; });
            return turn;
        }
        void letThrough(int count) {
            std::lock_guard lock(mutex);
            let = count;
            changed.notify_all();
        }
        void letAll() { letThrough(1 << 20); }
        int count() {
            std::lock_guard lock(mutex);
            return asked;
        }
        ManualMainQueue& queue;
        std::mutex mutex;
        std::condition_variable changed;
        int asked = 0;
        int let = 0;
        FakeHttpServer server;  // last: it stops, with its handlers, first
    };

    // Serves a song `label` of `seconds` at /label.wav, each answer held until let through.
    void serveWhenAnswered(HeldServer& held, const std::string& label, double seconds) {
        held.server.get("/" + label + ".wav",
                        [&held, content = songBytes(label, seconds)](const httplib::Request&,
                                                                     httplib::Response& response) {
                            held.hold();
                            response.set_content(content, "audio/wav");
                        });
    }

    static std::string uriOf(const std::filesystem::path& path) {
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        std::string result = uri;
        g_free(uri);
        return result;
    }

    // The pad where `playbin`'s audio reaches the player's sink (a reference), if it has one.
    static GstPad* sinkPadOf(GstElement* playbin) {
        GstElement* sink = nullptr;
        g_object_get(playbin, "audio-sink", &sink, nullptr);
        if (!sink) return nullptr;
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_object_unref(sink);
        return pad;
    }
    // Adds `probe` to that pad, ahead of the player's own probe there.
    static void probeBeforeSink(GstElement* playbin, GstPadProbeType type,
                                GstPadProbeCallback probe, gpointer data,
                                GDestroyNotify destroy = nullptr) {
        GstPad* pad = sinkPadOf(playbin);
        ASSERT_NE(pad, nullptr);
        gst_pad_add_probe(pad, type, probe, data, destroy);
        gst_object_unref(pad);
    }
    // The fakesink inside `bin` (a reference), behind the player's own probe.
    static GstElement* fakesinkIn(GstElement* bin) {
        GstElement* sink = nullptr;
        GstIterator* sinks = gst_bin_iterate_all_by_element_factory_name(GST_BIN(bin), "fakesink");
        GValue found = G_VALUE_INIT;
        if (gst_iterator_next(sinks, &found) == GST_ITERATOR_OK)
            sink = GST_ELEMENT(g_value_dup_object(&found));
        g_value_unset(&found);
        gst_iterator_free(sinks);
        return sink;
    }

    std::string name(const PlayerItemPtr& item) { return item ? labels[item->id()] : "none"; }
    void record(const std::string& event) { events.push_back(event); }
    bool saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    // Runs the queue until `event` is told; failing, says what was told instead.
    ::testing::AssertionResult waitFor(const std::string& event) {
        if (queue.runUntil([&] { return saw(event); })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "never told \"" << event << "\"; told " << ::testing::PrintToString(events);
    }
    // Runs the queue until `playbin`'s clock reads `at(clock)`, or `sooner` holds: whether either
    // came.
    bool runUntilClockOf(
        GstElement* playbin, const std::function<GstClockTime(GstClock*)>& at,
        const std::function<bool()>& sooner = [] { return false; }) {
        GstClock* clock = gst_element_get_clock(playbin);
        if (!clock) return false;
        auto passed = std::make_shared<std::atomic<bool>>(false);
        GstClockID id = gst_clock_new_single_shot_id(clock, at(clock));
        gst_object_unref(clock);
        struct Wake {
            std::shared_ptr<std::atomic<bool>> passed;
            ManualMainQueue& queue;
        };
        gst_clock_id_wait_async(
            id,
            +[](GstClock*, GstClockTime, GstClockID, gpointer data) -> gboolean {
                auto& wake = *static_cast<Wake*>(data);
                *wake.passed = true;
                wake.queue.post([] {});
                return TRUE;
            },
            new Wake{passed, queue}, [](gpointer data) { delete static_cast<Wake*>(data); });
        const bool waited = queue.runUntil([&] { return sooner() || passed->load(); });
        gst_clock_id_unschedule(id);
        gst_clock_id_unref(id);
        return waited;
    }
    // Runs the queue until `delay` has passed on `playbin`'s clock.
    bool waitOnClockOf(GstElement* playbin, GstClockTime delay) {
        return runUntilClockOf(
            playbin, [delay](GstClock* clock) { return gst_clock_get_time(clock) + delay; });
    }
    // Waits for another thread to make `done` hold, without running the queue.
    // What `done` saw last is the answer: asked once more, a passing state might say otherwise
    // than what the caller noted of it.
    static bool spinUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }
    // Looks at files that last as on a share that stopped answering, until released; at most
    // 20 s, for a look that holds the test's own thread.
    struct HeldLook {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::string> asked;  // the names of the files looked at
        std::set<std::uint64_t> threads;  // ... and the threads that looked (`threadSerial`)
        bool open = false;
        bool overran = false;  // one waited out the bound
        void release() {
            std::lock_guard lock(mutex);
            open = true;
            changed.notify_all();
        }
        std::size_t count() {
            std::lock_guard lock(mutex);
            return asked.size();
        }
        // Lets every look end as it goes, before the player, which may wait for one.
        struct Releaser {
            HeldLook& look;
            ~Releaser() { look.release(); }
        };
    };
    std::function<bool(const std::string&)> heldBy(std::shared_ptr<HeldLook> look) {
        return [look, this](const std::string& path) {
            std::unique_lock lock(look->mutex);
            look->asked.push_back(std::filesystem::path(path).stem().string());
            look->threads.insert(threadSerial());
            queue.post([] {});
            if (!look->changed.wait_for(lock, std::chrono::seconds(20), [&] { return look->open; }))
                look->overran = true;
            return true;
        };
    }
    // Asks `call` on another thread, standing for the main one: whether it returned at once. If
    // not, `unhold` lets it end.
    static bool returnsAtOnce(const std::function<void()>& call,
                              const std::function<void()>& unhold) {
        auto asked = std::async(std::launch::async, call);
        const bool free = asked.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!free) unhold();
        asked.wait();
        return free;
    }
    std::vector<SinkBuffer> sinkBuffers() {
        std::lock_guard lock(mutex);
        return buffers;
    }
    void clearSinkBuffers() {
        std::lock_guard lock(mutex);
        buffers.clear();
    }
    double peakHeard() {
        double peak = 0;
        for (const auto& buffer : sinkBuffers()) peak = std::max(peak, buffer.peak);
        return peak;
    }
    std::size_t framesAtOrAfter(double streamTime) {
        std::size_t total = 0;
        for (const auto& b : sinkBuffers())
            if (b.streamTime >= streamTime - 0.5 / sampleRate) total += b.frames;
        return total;
    }
    std::size_t totalFrames() { return framesAtOrAfter(0); }
    // The frames heard from the first buffer that starts at `streamTime` on, if one does.
    std::optional<std::size_t> framesFrom(double streamTime) {
        auto all = sinkBuffers();
        auto first = std::find_if(all.begin(), all.end(), [&](const SinkBuffer& buffer) {
            return std::abs(buffer.streamTime - streamTime) < 0.5 / sampleRate;
        });
        if (first == all.end()) return std::nullopt;
        std::size_t played = 0;
        for (auto it = first; it != all.end(); ++it) played += it->frames;
        return played;
    }
    // A starved streaming thread may bring the last song's first data to the sink only after the
    // data of the song before have run out. The player then rightly shows the change as a wait
    // (current first, ready once its data come), and only then is that order taken as joined:
    // the running clock, checked by the callers, still shows whether it was handed over.
    void takeLateDataAsJoined(const std::string& last) {
        auto all = sinkBuffers();
        auto start = std::find_if(all.rbegin(), all.rend(), [](const SinkBuffer& buffer) {
            return buffer.streamTime < 0.5 / sampleRate;
        });
        if (start == all.rend() || std::next(start) == all.rend()) return;
        if (start->arrivedAt <= std::next(start)->runningEnd) return;
        auto current = std::find(events.begin(), events.end(), "current " + last);
        if (current == events.end() || std::next(current) == events.end() ||
            *std::next(current) != "status " + last + " ready")
            return;
        std::iter_swap(current, std::next(current));
        std::cerr << "[ note ] " << last << "'s data reached the sink late, by "
                  << start->arrivedAt - std::next(start)->runningEnd << " s\n";
    }
    // The second item followed the first without a gap: handed over, not opened after the end,
    // and on one continuous running clock, not restarted after a stop.
    void expectJoined(const std::string& first, const std::string& second) {
        takeLateDataAsJoined(second);
        std::vector<std::string> expected = {
            "current " + first,         "status " + first + " ready", "end " + first,
            "status " + second + " ready", "current " + second,       "end " + second,
            "current none"};
        EXPECT_EQ(events, expected);
        EXPECT_EQ(totalFrames(), frames[first] + frames[second]);
        auto all = sinkBuffers();
        ASSERT_FALSE(all.empty());
        EXPECT_NEAR(all.back().runningEnd, double(frames[first] + frames[second]) / sampleRate,
                    1e-4);
    }

    ManualMainQueue queue;
    TempDir dir;
    std::map<PlayerItem::Id, std::string> labels;
    std::map<std::string, std::size_t> frames;
    std::vector<std::string> events;
    Status timeControl = Status::paused;
    std::mutex mutex;  // held by a test, it holds the stream at the sink
    std::atomic<int> probeCalls{0};
    std::vector<SinkBuffer> buffers;
    // Last, so that it goes first: its streaming threads write into `buffers` until it stops.
    std::unique_ptr<GStreamerQueuePlayer> player;
};

TEST_F(GStreamerQueuePlayerTest, PlaysAnItemToItsEndAndKeepsTheWishToPlay) {
    makePlayer();
    auto a = item("a", 0.5);
    ASSERT_TRUE(player->insert(a));
    EXPECT_EQ(player->currentItem(), a);
    EXPECT_EQ(a->status(), PlayerItem::Status::unknown);
    player->play();
    ASSERT_TRUE(waitFor("current none"));
    EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "current none"}));
    EXPECT_EQ(totalFrames(), frames["a"]);
    ASSERT_TRUE(a->duration().has_value());
    EXPECT_NEAR(*a->duration(), 0.5, 1e-3);
    EXPECT_TRUE(player->items().empty());
    EXPECT_EQ(player->currentTime(), 0);
    // play() still holds: an item queued after the end starts by itself.
    EXPECT_EQ(player->timeControlStatus(), Status::waitingToPlayAtSpecifiedRate);
    auto b = item("b", 0.3);
    player->insert(b);
    ASSERT_TRUE(waitFor("end b"));
    EXPECT_EQ(totalFrames(), frames["a"] + frames["b"]);
}

// A skip opens the song on a playbin that stopped when it was replaced at a skip before, not on
// one built anew. Used again, a playbin that had joined two songs plays the song whole at the
// volume set meanwhile, and joins the song behind it.
TEST_F(GStreamerQueuePlayerTest, ASkipOpensTheSongOnAPlaybinStoppedBefore) {
    makePlayer("fakesink sync=true");
    auto a = item("a", 0.3);
    auto b = item("b", 2.0);
    auto c = item("c", 2.0);
    auto d = item("d", 0.3);
    auto e = item("e", 0.2);
    for (const auto& song : {a, b, c, d, e}) player->insert(song);
    player->play();
    ASSERT_TRUE(waitFor("current b"));
    player->advanceToNextItem();
    ASSERT_TRUE(queue.runUntil(
        [&] { return c->status() == PlayerItem::Status::readyToPlay && !player->tearingDown(); }));
    GstElement* playingC = latestPlaybin;
    const int made = playbinsMade;
    player->setVolume(0.5);
    player->advanceToNextItem();
    clearSinkBuffers();
    events.clear();
    ASSERT_TRUE(waitFor("current none"));
    EXPECT_EQ(playbinsMade - made, 0) << "playbins built for the skip";
    EXPECT_NE(latestPlaybin, playingC);
    takeLateDataAsJoined("e");
    EXPECT_EQ(events, (Events{"current d", "status d ready", "end d", "status e ready", "current e",
                              "end e", "current none"}));
    EXPECT_EQ(totalFrames(), frames["d"] + frames["e"]);
    EXPECT_NEAR(sinkBuffers().back().runningEnd, double(frames["d"] + frames["e"]) / sampleRate,
                1e-4)
        << "not joined on one running clock";
    EXPECT_NEAR(peakHeard(), 0.25, 0.01);
    ASSERT_TRUE(d->duration().has_value());
    EXPECT_NEAR(*d->duration(), 0.3, 1e-3);
}

// A short song is read to its end while it prerolls, and the playbin asks for the next one then:
// one queued in the same turn as the first is there to be given, however late the main thread
// comes back (here it waits for the playbin to ask).
TEST_F(GStreamerQueuePlayerTest, ConsecutiveItemsJoinWithoutLosingASample) {
    HandOverGate asked{.open = true};
    AtScopeEnd unhook{[] { handOverGate = nullptr; }};
    handOverGate = &asked;
    makePlayer("fakesink sync=false", [&](std::function<void()> work) {
        std::thread(std::move(work)).detach();
        spinUntil([&] { return asked.wasReached(); });
    });
    auto a = item("a", 0.5);
    auto b = item("b", 0.7);
    player->insert(a);
    player->insert(b, a);
    player->play();
    ASSERT_TRUE(waitFor("current none"));
    expectJoined("a", "b");
}

// The song joined is current as the one before plays its last buffer out; from then on the place
// told is in the new song, however the sink still counts the last buffer of the one before.
TEST_F(GStreamerQueuePlayerTest, ThePositionAtASongChangeIsInTheNewSong) {
    makePlayer("fakesink sync=true");
    auto a = item("a", 0.6);
    auto b = item("b", 1.0);
    std::optional<double> atChange;
    player->addCurrentItemObserver([&](const PlayerItemPtr& item) {
        if (item == b) atChange = player->currentTime();
    });
    player->insert(a);
    player->insert(b, a);
    player->play();
    ASSERT_TRUE(waitFor("current b"));
    ASSERT_TRUE(atChange);
    EXPECT_LT(*atChange, 0.3) << "the end of a was taken for the place in b";
    EXPECT_TRUE(spinUntil([&] { return player->currentTime() > 0.4; })) << "b stood at its start";
    ASSERT_TRUE(waitFor("current none"));
}

TEST_F(GStreamerQueuePlayerTest, AMissingFileFailsItsItem) {
    makePlayer();
    auto missing = named("missing", uriOf(dir.path() / "nothing-here.wav"));
    player->insert(missing);
    player->play();
    ASSERT_TRUE(waitFor("status missing failed"));
    EXPECT_FALSE(missing->errorMessage().empty());
    EXPECT_FALSE(saw("broke missing"));  // it never started
    EXPECT_EQ(player->currentItem(), missing);
    EXPECT_EQ(player->timeControlStatus(), Status::waitingToPlayAtSpecifiedRate);

    std::optional<bool> seekResult;
    player->seek(1, [&](bool finished) { seekResult = finished; });
    ASSERT_TRUE(queue.runUntil([&] { return seekResult.has_value(); }));
    EXPECT_FALSE(*seekResult);

    // The queue does not skip a failed item; moving on plays the next one.
    auto a = item("a", 0.2);
    player->insert(a, missing);
    player->advanceToNextItem();
    ASSERT_TRUE(waitFor("end a"));
    EXPECT_EQ(totalFrames(), frames["a"]);
}

// The user reads why in Chinese; the log keeps the player's own words but no address's secrets.
TEST_F(GStreamerQueuePlayerTest, FailuresAreDescribedInChineseAndLoggedWithoutSecrets) {
    std::vector<std::string> logged;
    std::mutex logMutex;
    Log::setSink([&](Log::Level, std::string_view, std::string_view line) {
        std::lock_guard lock(logMutex);
        logged.emplace_back(line);
    });
    FakeHttpServer server;  // every path but this one answers 404
    server.get("/cut.mp3", [](const httplib::Request&, httplib::Response& response) {
        // The connection breaks right after the headers, before any of the promised body.
        response.set_content_provider(
            100000, "audio/mpeg", [](size_t, size_t, httplib::DataSink&) { return false; });
    });
    std::ofstream(dir.path() / "broken.mp3") << std::string(4096, '\x7f') << "not audio";
    std::string stream = server.url("/song.mp3?token=s3cret-key");
    stream.insert(stream.find("://") + 3, "listener:pa55word@");
    struct Case {
        std::string uri;
        std::string message;
    };
    for (const auto& c :
         std::vector<Case>{{uriOf(dir.path() / "gone.mp3"), "找不到音频文件，可能已被移动或删除"},
                           {uriOf(dir.path() / "broken.mp3"), "无法解码，可能不是可播放的音频"},
                           {stream, "音频流加载失败，请检查网络后重试"},
                           // Network faults, not decoding ones: a broken connection and a
                           // server that cannot speak TLS.
                           {server.url("/cut.mp3"), "音频流加载失败，请检查网络后重试"},
                           {"https://" + server.baseURL().substr(7) + "/song.mp3",
                            "音频流加载失败，请检查网络后重试"}}) {
        makePlayer();
        auto failing = named("x", c.uri);
        player->insert(failing);
        player->play();
        ASSERT_TRUE(queue.runUntil([&] { return failing->status() == PlayerItem::Status::failed; }))
            << c.uri;
        EXPECT_EQ(failing->errorMessage(), c.message) << c.uri;
    }
    Log::setSink({});
    bool mentionsStream = false;
    for (const auto& line : logged) {
        EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
        EXPECT_EQ(line.find("pa55word"), std::string::npos) << line;
        mentionsStream |= line.find(server.url("/song.mp3")) != std::string::npos;
    }
    EXPECT_TRUE(mentionsStream);
}

// A next song that fails, unopened or handed over, fails once the song before has been heard
// whole. The playbin may leave that song's end behind a failed switch and change state no more:
// data that stop after the next stream failed are the end, and a song the playbin has not
// started plays from where it was heard, the failing one behind it opened on its own.
TEST_F(GStreamerQueuePlayerTest, AFailingNextFileFailsAfterTheFirstEnds) {
    std::ofstream(dir.path() / "broken.mp3") << std::string(4096, '\x7f') << "not audio";
    std::atomic<int> decoderFailures{0};  // logged as each is taken up
    Log::setSink([&](Log::Level, std::string_view, std::string_view line) {
        if (line.find("decodebin") != std::string_view::npos) ++decoderFailures;
    });
    AtScopeEnd unlog{[] { Log::setSink({}); }};
    enum class Way { missing, endLost, failedBeforePlay };
    for (Way way : {Way::missing, Way::endLost, Way::failedBeforePlay}) {
        SCOPED_TRACE(static_cast<int>(way));
        const std::string name = way == Way::missing ? "missing" : "broken";
        HandOverGate asked;  // with the end lost: handed over only once a plays
        AtScopeEnd unhold{[&] {
            asked.release();
            askGate = nullptr;
        }};
        if (way == Way::endLost) askGate = &asked;
        makePlayer("fakesink sync=true");
        auto a = item("a", 1.0);
        auto failing =
            named(name, uriOf(dir.path() / (way == Way::missing ? "gone.wav" : "broken.mp3")));
        player->insert(a);
        player->insert(failing);
        if (way == Way::failedBeforePlay) {
            ASSERT_TRUE(queue.runUntil([&] { return decoderFailures > 0; }));
        }
        player->play();
        if (way == Way::endLost) {
            ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
            probeBeforeSink(
                latestPlaybin, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                [](GstPad*, GstPadProbeInfo* info, gpointer) {
                    const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
                    return type == GST_EVENT_STREAM_GROUP_DONE || type == GST_EVENT_EOS
                               ? GST_PAD_PROBE_DROP
                               : GST_PAD_PROBE_OK;
                },
                nullptr);
            asked.release();
        }
        ASSERT_TRUE(waitFor("status " + name + " failed")) << "the song before never ended";
        EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "current " + name,
                                  "status " + name + " failed"}));
        EXPECT_EQ(player->currentItem(), failing);
        // Heard whole from its last start: a start prerolled by a playbin that never played it
        // reached the sink but was not heard.
        std::size_t heard = 0;
        for (const auto& buffer : sinkBuffers())
            heard = buffer.streamTime < 0.5 / sampleRate ? buffer.frames : heard + buffer.frames;
        EXPECT_EQ(heard, frames["a"]);
        player.reset();
        decoderFailures = 0;
    }
}

TEST_F(GStreamerQueuePlayerTest, SeeksSampleAccuratelyOnceTheItemIsReady) {
    makePlayer();
    auto a = item("a", 2.0);
    player->insert(a);
    // Asked while the item is still opening: it waits for the item.
    std::vector<bool> results;
    player->seek(0.5, [&](bool finished) { results.push_back(finished); });
    player->seek(1.5, [&](bool finished) { results.push_back(finished); });
    EXPECT_EQ(player->currentTime(), 1.5);
    ASSERT_TRUE(queue.runUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results, (std::vector<bool>{false, true}));  // the first was interrupted
    EXPECT_NEAR(player->currentTime(), 1.5, 1e-3);
    EXPECT_EQ(timeControl, Status::paused);

    player->play();
    ASSERT_TRUE(waitFor("end a"));
    EXPECT_EQ(framesAtOrAfter(1.5), frames["a"] - std::size_t(1.5 * sampleRate));
    EXPECT_TRUE(framesFrom(1.5).has_value()) << "no buffer starts where the seek went";
}

// A flushing seek waits for the streaming thread, which a stalled read holds (here the sink,
// held by the test), and holds the playbin's state meanwhile. Asked then, it leaves the caller
// free, as do a pause and a look at the time after it; the seek lands once the stream goes on,
// and the pause holds. The pause is set right after the seek, not once the main thread comes
// back: the seek goes to the song's last tenth of a second, which plays out meanwhile.
TEST_F(GStreamerQueuePlayerTest, ASeekWhileTheStreamIsHeldLeavesTheCallerFree) {
    makePlayer("fakesink sync=true");
    auto a = item("a", 2.0);
    player->insert(a);
    player->play();
    ASSERT_TRUE(queue.runUntil(
        [&] { return timeControl == Status::playing && sinkBuffers().size() > 1; }));
    std::optional<bool> moved;
    {
        std::unique_lock hold(mutex);
        const int calls = probeCalls;
        ASSERT_TRUE(spinUntil([&] { return probeCalls > calls; }))
            << "the stream never reached the sink again";
        auto asked = std::async(std::launch::async, [&] {
            player->seek(1.9, [&](bool finished) { moved = finished; });
            player->pause();
            player->currentTime();
        });
        const bool free = asked.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        hold.unlock();
        asked.wait();
        ASSERT_TRUE(free) << "the seek, the pause or the time waited for the held stream";
    }
    // The main thread stays away until the pause is set, or the song has been played out
    // without it.
    GstElement* playbin = latestPlaybin;
    EXPECT_TRUE(spinUntil([&] {
        return targetState(playbin) == GST_STATE_PAUSED || endPostedBy == playbin;
    }));
    ASSERT_TRUE(queue.runUntil([&] { return moved.has_value(); }));
    EXPECT_EQ(moved, true);
    EXPECT_TRUE(queue.runUntil([&] {
        GstState state = GST_STATE_VOID_PENDING;
        return gst_element_get_state(latestPlaybin, &state, nullptr, 0) ==
                   GST_STATE_CHANGE_SUCCESS &&
               state == GST_STATE_PAUSED;
    })) << "the pause was lost";
    EXPECT_FALSE(saw("end a"));
    player->play();
    ASSERT_TRUE(waitFor("end a"));
}

// Where a song has no data, a seek lands on a gap: the sink prerolls on it as on data. Here a
// stand-in: the end found after the seek's flush comes as a gap.
TEST_F(GStreamerQueuePlayerTest, ASeekThatLandsOnAGapEnds) {
    makePlayer("fakesink sync=true");
    player->insert(item("a", 1.0));
    ASSERT_TRUE(waitFor("status a ready"));
    static std::atomic<bool> flushed{false};
    flushed = false;
    probeBeforeSink(
        latestPlaybin,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                     GST_PAD_PROBE_TYPE_EVENT_FLUSH),
        [](GstPad*, GstPadProbeInfo* info, gpointer) {
            auto* event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) flushed = true;
            if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && flushed) {
                gst_event_unref(event);
                GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_gap(GST_SECOND, GST_CLOCK_TIME_NONE);
            }
            return GST_PAD_PROBE_OK;
        },
        nullptr);
    std::optional<bool> sought;
    player->seek(1.0, [&](bool finished) { sought = finished; });
    ASSERT_TRUE(queue.runUntil([&] { return sought.has_value(); })) << "the seek never ended";
    EXPECT_EQ(sought, true);
}

// The end of the data a seek is to flush may reach the sink while the seek is still on its way up
// (a seek sent as the song's end is asked for): that end is not the song's, though the main
// thread learns of it only once the flush has passed. The seek lands, and the song ends once
// played from there.
TEST_F(GStreamerQueuePlayerTest, AnEndBeforeASeeksFlushIsNotTheSongsEnd) {
    makePlayer("fakesink sync=true");
    // Long enough for the seek to be asked before the end, with the main thread late under load.
    player->insert(item("a", 3.0));
    player->play();
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
    GstElement* playbin = latestPlaybin;
    static HandOverGate* seekHeld = nullptr;
    HandOverGate held;
    seekHeld = &held;
    AtScopeEnd release{[&] {
        held.release();
        seekHeld = nullptr;
    }};
    probeBeforeSink(playbin, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM,
                    [](GstPad*, GstPadProbeInfo* info, gpointer) {
                        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_SEEK &&
                            seekHeld)
                            seekHeld->wait();
                        return GST_PAD_PROBE_OK;
                    },
                    nullptr);
    std::optional<bool> sought;
    endPostedBy = nullptr;
    player->seek(2.5, [&](bool finished) { sought = finished; });
    clearSinkBuffers();
    ASSERT_TRUE(spinUntil([&] { return endPostedBy == playbin; }));
    held.release();
    ASSERT_TRUE(spinUntil([&] { return framesFrom(2.5).has_value(); }));
    ASSERT_TRUE(queue.runUntil([&] { return sought.has_value(); })) << "the seek never ended";
    EXPECT_EQ(sought, true);
    ASSERT_TRUE(waitFor("end a"));
    EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "current none"}));
    EXPECT_EQ(framesFrom(2.5), frames["a"] - 5 * sampleRate / 2);
}

// A second seek asked while the first is still on its way: the first's flush, and what reaches
// the sink after it (data, or a gap where the song has none), come once the second is counted,
// and are not the second's landing. Only the second is reported done, at its own place, and
// each completion runs once. The seeks are held on their way up to the source, which holds no
// streaming thread; the song rests paused, so nothing waits for the playbin's state while a
// held seek keeps it.
TEST_F(GStreamerQueuePlayerTest, OfTwoSeeksCloseTogetherTheLastIsDoneAtItsPlace) {
    struct Flow {
        std::mutex mutex;
        std::condition_variable changed;
        ManualMainQueue* queue = nullptr;
        int seeksAsked = 0;      // seeks that reached the hold
        int seeksLet = 0;        // ... and were let on
        int flushes = 0;         // flushes that reached the sink
        int landedOnFirst = 0;   // data or gaps there after the first flush
        bool gapForEnd = false;  // the first end after a flush comes as a gap instead
        void let(int seeks) {
            std::lock_guard lock(mutex);
            seeksLet = seeks;
            changed.notify_all();
        }
        void noted() {
            changed.notify_all();
            queue->post([] {});
        }
    };
    // Shared with the probes, which may outlive a failed round.
    using FlowPtr = std::shared_ptr<Flow>;
    auto probeData = [](const FlowPtr& flow) { return new FlowPtr(flow); };
    auto releaseData = [](gpointer data) { delete static_cast<FlowPtr*>(data); };
    for (bool firstOnAGap : {false, true}) {
        SCOPED_TRACE(firstOnAGap ? "the first lands on a gap" : "the first lands on data");
        auto shared = std::make_shared<Flow>();
        Flow& flow = *shared;
        flow.queue = &queue;
        flow.gapForEnd = firstOnAGap;
        // Before the player stops, which waits for a held seek.
        AtScopeEnd letGo{[&] { flow.let(1 << 20); }};
        makePlayer("fakesink sync=false");
        auto a = item("a", 2.0);
        player->insert(a);
        ASSERT_TRUE(waitFor("status a ready"));
        GstElement* playbin = latestPlaybin;
        probeBeforeSink(
            playbin,
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_UPSTREAM |
                                         GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            [](GstPad* pad, GstPadProbeInfo* info, gpointer data) {
                auto& flow = **static_cast<FlowPtr*>(data);
                GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
                std::unique_lock lock(flow.mutex);
                if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
                    const int seek = ++flow.seeksAsked;
                    flow.noted();
                    flow.changed.wait(lock, [&] { return flow.seeksLet >= seek; });
                } else if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && flow.flushes > 0 &&
                           std::exchange(flow.gapForEnd, false)) {
                    GstClockTime end = GST_CLOCK_TIME_NONE;
                    if (GstEvent* segment = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
                        const GstSegment* part;
                        gst_event_parse_segment(segment, &part);
                        end = part->start;
                        gst_event_unref(segment);
                    }
                    gst_event_unref(event);
                    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_gap(end, GST_CLOCK_TIME_NONE);
                }
                return GST_PAD_PROBE_OK;
            },
            probeData(shared), releaseData);
        // Behind the player's own probe: what is seen here the player has seen.
        GstElement* sink = fakesinkIn(playbin);
        ASSERT_NE(sink, nullptr);
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        gst_object_unref(sink);
        gst_pad_add_probe(
            sinkPad,
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                         GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                         GST_PAD_PROBE_TYPE_EVENT_FLUSH),
            [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                auto& flow = **static_cast<FlowPtr*>(data);
                std::lock_guard lock(flow.mutex);
                const bool buffer = info->type & GST_PAD_PROBE_TYPE_BUFFER;
                const GstEventType type =
                    buffer ? GST_EVENT_UNKNOWN : GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
                if (type == GST_EVENT_FLUSH_STOP) ++flow.flushes;
                if (flow.flushes == 1 && (buffer || type == GST_EVENT_GAP)) {
                    ++flow.landedOnFirst;
                    flow.noted();
                }
                return GST_PAD_PROBE_OK;
            },
            probeData(shared), releaseData);
        gst_object_unref(sinkPad);

        std::vector<bool> first;
        std::vector<bool> second;
        std::optional<double> placeWhenDone;
        player->seek(firstOnAGap ? 2.0 : 0.5, [&](bool done) { first.push_back(done); });
        ASSERT_TRUE(queue.runUntil([&] {
            std::lock_guard lock(flow.mutex);
            return flow.seeksAsked == 1;
        })) << "the first seek was never sent";
        player->seek(1.5, [&](bool done) {
            second.push_back(done);
            placeWhenDone = player->currentTime();
        });
        flow.let(1);
        // The first lands while the second is held on its way.
        {
            std::unique_lock lock(flow.mutex);
            ASSERT_TRUE(flow.changed.wait_for(lock, std::chrono::seconds(10), [&] {
                return flow.landedOnFirst > 0 && flow.seeksAsked == 2;
            })) << "the first seek never landed";
        }
        queue.runPending();
        EXPECT_EQ(first, std::vector<bool>{false});
        EXPECT_TRUE(second.empty()) << "the first seek's landing was taken as the second's";
        flow.let(2);
        ASSERT_TRUE(queue.runUntil([&] { return !second.empty(); })) << "the second never ended";
        EXPECT_EQ(second, std::vector<bool>{true});
        ASSERT_TRUE(placeWhenDone.has_value());
        EXPECT_NEAR(*placeWhenDone, 1.5, 1e-3);
        player->play();
        ASSERT_TRUE(waitFor("end a"));
        EXPECT_EQ(first.size() + second.size(), 2u);
        EXPECT_EQ(framesFrom(1.5), frames["a"] - std::size_t(1.5 * sampleRate));
        player.reset();
    }
}

TEST_F(GStreamerQueuePlayerTest, RateReachesTheSinkAndOutlivesTheItemChange) {
    makePlayer("fakesink sync=true");
    auto a = item("a", 0.4);
    auto b = item("b", 0.4);
    player->insert(a);
    player->insert(b);
    player->setRate(2.0);
    player->setRate(-1);  // ignored
    player->setRate(std::nan(""));
    EXPECT_EQ(player->rate(), 2.0);
    EXPECT_EQ(player->timeControlStatus(), Status::paused);  // a rate does not start playback
    player->play();
    ASSERT_TRUE(waitFor("end b"));
    // Each item may show its first buffer before the rate applies; everything after is at 2x.
    auto all = sinkBuffers();
    std::size_t fast = 0;
    for (const auto& buffer : all)
        if (buffer.rate == 2.0) fast += buffer.frames;
    EXPECT_EQ(fast, frames["a"] + frames["b"]);
    EXPECT_EQ(all.back().rate, 2.0);
}

TEST_F(GStreamerQueuePlayerTest, ASeekNearTheEndStillJoinsTheNextItem) {
    makePlayer();
    auto a = item("a", 0.2);
    auto b = item("b", 0.5);
    player->insert(a);
    player->insert(b);
    // The whole short file is read at once, so the next item is handed over before this seek.
    ASSERT_TRUE(waitFor("status a ready"));
    std::optional<bool> sought;
    player->seek(0.1, [&](bool finished) { sought = finished; });
    ASSERT_TRUE(queue.runUntil([&] { return sought.has_value(); }));
    EXPECT_TRUE(*sought);
    player->play();
    ASSERT_TRUE(waitFor("end b"));
    EXPECT_TRUE(saw("status b ready"));
    EXPECT_EQ(framesFrom(0.1), frames["a"] - std::size_t(0.1 * sampleRate) + frames["b"]);
}

// A buffering pause comes while a flushing seek's lost state is recovered: the pause is still
// under way when the buffer is full again, and the recovery reaching PLAYING is the first
// change to settle, before the pause itself. Whichever change settles the playbin, it must end
// in the state wanted; here the stand-in messages come in that order ahead of the real ones.
TEST_F(GStreamerQueuePlayerTest, TheStateWantedIsReachedWhicheverChangeSettlesFirst) {
    makePlayer("fakesink sync=true");
    auto a = item("a", 1.0);
    player->insert(a);
    player->play();
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
    GstElement* playbin = latestPlaybin;
    ASSERT_NE(playbin, nullptr);
    // Data held before the sink keeps the pause for the buffering under way until released.
    struct Hold {
        std::atomic<bool> held{false};
        ManualMainQueue* queue;
    } hold{false, &queue};
    GstPad* sinkPad = sinkPadOf(playbin);
    ASSERT_NE(sinkPad, nullptr);
    const gulong probe = gst_pad_add_probe(
        sinkPad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            auto* hold = static_cast<Hold*>(data);
            hold->held = true;
            hold->queue->post([] {});
            return GST_PAD_PROBE_OK;
        },
        &hold, nullptr);
    const bool held = queue.runUntil([&] { return hold.held.load(); });
    auto post = [&](GstMessage* message) { gst_element_post_message(playbin, message); };
    post(gst_message_new_buffering(GST_OBJECT(playbin), 0));
    queue.runPending();
    // A worker still at work (on the state set after the start) sets the pause after it: the
    // changes below are to come while the pause is under way.
    const bool pausing = spinUntil([&] { return targetState(playbin) == GST_STATE_PAUSED; });
    post(gst_message_new_buffering(GST_OBJECT(playbin), 100));
    post(gst_message_new_state_changed(GST_OBJECT(playbin), GST_STATE_PAUSED, GST_STATE_PLAYING,
                                       GST_STATE_VOID_PENDING));
    queue.runPending();
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(playbin, nullptr, &pending, 0);
    gst_pad_remove_probe(sinkPad, probe);
    gst_object_unref(sinkPad);
    ASSERT_TRUE(held);
    ASSERT_TRUE(pausing) << "no pause for the buffering";
    EXPECT_EQ(pending, GST_STATE_PAUSED);
    ASSERT_TRUE(waitFor("end a")) << "left paused while playing was wanted";
    EXPECT_EQ(totalFrames(), frames["a"]);
}

TEST_F(GStreamerQueuePlayerTest, VolumeScalesTheSamples) {
    makePlayer();
    player->setVolume(0.25);
    player->setVolume(std::nan(""));
    EXPECT_EQ(player->volume(), 0.25);
    auto a = item("a", 0.2, 0.8);
    player->insert(a);
    player->play();
    ASSERT_TRUE(waitFor("end a"));
    EXPECT_NEAR(peakHeard(), 0.2, 0.01);
    player->setVolume(3);
    EXPECT_EQ(player->volume(), 1.0);
}

TEST_F(GStreamerQueuePlayerTest, TimeObserverReportsOnlyWhilePlaying) {
    makePlayer("fakesink sync=true");
    std::vector<double> times;
    player->addPeriodicTimeObserver(std::chrono::milliseconds(200),
                                    [&](double seconds) { times.push_back(seconds); });
    player->insert(item("a", 5.0));
    player->play();
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
    queue.advance(std::chrono::milliseconds(200));
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GE(times[0], 0.0);
    player->pause();
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::paused; }));
    queue.advance(std::chrono::milliseconds(600));
    EXPECT_EQ(times.size(), 1u);
}

TEST_F(GStreamerQueuePlayerTest, PlaysAStreamFromAWebServer) {
    makePlayer();
    httplib::Server server;
    const std::string content = songBytes("song", 0.5);
    server.Get("/song.wav", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(content, "audio/x-wav");
    });
    server.set_keep_alive_max_count(1);  // the stream is one request; do not linger after it
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    auto song = named("song", "http://127.0.0.1:" + std::to_string(port) + "/song.wav");
    player->insert(song);
    player->play();
    auto ended = waitFor("end song");
    server.stop();
    serving.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(totalFrames(), frames["song"]);
}

// The playbin cannot take a hand-over back. A next item swapped after it opens on its own once
// the current one has ended, from its start; the stream handed over is not heard, and if it
// fails, the failure is its own, not that of the item queued in its place. The current item
// plays whole either way, also when the swap comes before it has started at the sink, or that
// failure before it has been played out.
TEST_F(GStreamerQueuePlayerTest, ANextItemSwappedAfterTheHandOverPlaysWholeAfterTheCurrentOne) {
    const std::string body = songBytes("b", 0.4);
    std::atomic<bool> failureHandled{false};
    Log::setSink([&](Log::Level, std::string_view, std::string_view line) {
        if (line.find("(404)") != std::string_view::npos) failureHandled = true;
    });
    AtScopeEnd unlog{[] { Log::setSink({}); }};
    // The orders: the swap comes before the current stream has started at the sink; the failure
    // comes once it has started, before it has been played out.
    enum class Order { swapBeforeStart, failureBeforeEnd };
    for (Order order : {Order::swapBeforeStart, Order::failureBeforeEnd}) {
        SCOPED_TRACE(static_cast<int>(order));
        const int status = order == Order::swapBeforeStart ? 200 : 404;
        makePlayer();
        HeldServer held{queue, 1};
        held.server.get("/b.wav", [&](const httplib::Request&, httplib::Response& response) {
            // The first data fetched ahead, as b becomes next, are refused: the hand-over then
            // asks for the stream itself, and that is held.
            if (held.hold() == 1) {
                response.status = 503;
                return;
            }
            response.status = status;
            if (status == 200) response.set_content(body, "audio/x-wav");
        });
        HandOverGate queued;  // the current stream is read to its end only once b is queued
        // Hold the start of the current item before the sink until the swap, and its last
        // buffer until the failure has been taken up; shared with the probe, which may
        // outlive this round in a playbin still being stopped.
        struct SinkHolds {
            HandOverGate start;
            HandOverGate end;
        };
        auto holds = std::make_shared<SinkHolds>();
        AtScopeEnd unhook{[&] {
            queued.release();
            askGate = nullptr;
            stateChangeHook = nullptr;
            holds->start.release();
            holds->end.release();
        }};
        askGate = &queued;
        auto a = item("a", 0.3);
        auto c = item("c", 0.2);
        // Before the playbin runs, so that nothing of a reaches the sink unseen.
        StateChangeHook watch{nullptr, GST_STATE_CHANGE_NULL_TO_READY, [&](GstElement* playbin) {
            probeBeforeSink(
                playbin,
                static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                             GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                    auto& holds = **static_cast<std::shared_ptr<SinkHolds>*>(data);
                    HandOverGate* gate = nullptr;
                    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
                        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                        const std::size_t frameBytes = 4;  // 16-bit stereo
                        const GstClockTime end =
                            GST_BUFFER_PTS(buffer) +
                            gst_util_uint64_scale(gst_buffer_get_size(buffer), GST_SECOND,
                                                  frameBytes * sampleRate);
                        if (end >= 3 * GST_SECOND / 10) gate = &holds.end;
                    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) ==
                               GST_EVENT_STREAM_START) {
                        gate = &holds.start;
                    }
                    if (gate) gate->wait();
                    return GST_PAD_PROBE_OK;
                },
                new std::shared_ptr<SinkHolds>(holds),
                [](gpointer data) { delete static_cast<std::shared_ptr<SinkHolds>*>(data); });
        }};
        stateChangeHook = &watch;
        player->insert(a);
        queue.runPending();
        // The playbin starts on a thread of its own.
        ASSERT_TRUE(spinUntil([] { return stateChangeHook.load() == nullptr; }));
        player->insert(named("b", held.server.url("/b.wav")));
        if (order == Order::failureBeforeEnd) {
            holds->start.release();
            ASSERT_TRUE(waitFor("status a ready"));
        }
        queued.release();
        player->play();
        // The player settles its state changes on the main queue, so it must run meanwhile.
        ASSERT_TRUE(queue.runUntil([&] { return held.count() > 1; }));
        ASSERT_EQ(player->items().size(), 2u);
        player->remove(player->items()[1]);
        player->insert(c);
        holds->start.release();
        held.letAll();
        // The failure of the stream handed over is taken up before a has reached the sink.
        if (status == 404) {
            ASSERT_TRUE(queue.runUntil([&] { return failureHandled.load(); }));
        }
        holds->end.release();
        ASSERT_TRUE(waitFor("end c"));
        EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "current c",
                                  "status c ready", "end c", "current none"}));
        EXPECT_EQ(totalFrames(), frames["a"] + frames["c"]);
        player.reset();  // its connection would hold up the server's stop
    }
}

// While a stream handed over opens, the playbin passes the state it is going to on to it over and
// over, and may start its source again after the song left the queue and its head was dropped.
// The source then tells it from its stream, as a server's refusal: a start that failed would fail
// the playbin's change under way, which then never reached playing, nor played out the song before.
TEST_F(GStreamerQueuePlayerTest, AStreamStartedAgainWithoutItsHeadFailsFromTheStreamNotItsStart) {
    registerStreamHeadSource();
    FakeHttpServer server;
    server.get("/b.wav", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(4096, 'b'), "audio/x-wav");
    });
    StreamHeads heads;
    const std::string url = server.url("/b.wav");
    heads.fetch(1, url);
    const std::string address = heads.addressFor(1, url);
    ASSERT_NE(address, url);
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_make_from_uri(GST_URI_SRC, address.c_str(), nullptr, nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    ASSERT_NE(source, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, sink, nullptr);
    AtScopeEnd stop{[pipeline] {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }};
    ASSERT_TRUE(gst_element_link(source, sink));
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND),
              GST_STATE_CHANGE_SUCCESS);
    gst_element_set_state(pipeline, GST_STATE_READY);
    heads.keepOnly({});
    EXPECT_NE(gst_element_set_state(pipeline, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* error = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    ASSERT_NE(error, nullptr);
    GError* told = nullptr;
    gst_message_parse_error(error, &told, nullptr);
    EXPECT_EQ(GST_MESSAGE_SRC(error), GST_OBJECT(source));
    EXPECT_TRUE(g_error_matches(told, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND));
    g_clear_error(&told);
    gst_message_unref(error);
}

// The playbin adds the next stream's decoder before it gives it the address handed over, and a
// state change reaching the decoder then fails the next song for want of one. So a state asked
// for after the hand-over waits until the next stream has its source, then is set.
TEST_F(GStreamerQueuePlayerTest, AStateAskedWhileTheNextStreamIsSetUpIsSetOnceItHasItsSource) {
    HandOverGate gate;
    gate.onReached = [this] { queue.post([] {}); };
    handOverGate = &gate;
    AtScopeEnd release{[&] {
        gate.release();
        handOverGate = nullptr;
    }};
    // The first song's whole body comes at once, when the next one is queued: it is read to
    // its end while the sink holds its first buffer, paused.
    HeldServer held{queue};
    serveWhenAnswered(held, "a", 0.2);
    makePlayer("fakesink sync=true");
    player->insert(named("a", held.server.url("/a.wav")));
    player->insert(item("b", 0.2));
    held.letAll();
    GstElement* playbin = latestPlaybin;
    ASSERT_TRUE(queue.runUntil([&] { return gate.wasReached() && saw("status a ready"); }))
        << ::testing::PrintToString(events);
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(playbin, &state, &pending, 0);
    ASSERT_EQ(state, GST_STATE_PAUSED);
    ASSERT_EQ(pending, GST_STATE_VOID_PENDING);
    player->play();
    EXPECT_EQ(targetState(playbin), GST_STATE_PAUSED)
        << "a state was set while the next stream was being set up";
    gate.release();
    ASSERT_TRUE(waitFor("current none"));
    // Joined to the end of the first, as handed over.
    takeLateDataAsJoined("b");
    EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "status b ready", "current b",
                              "end b", "current none"}));
    EXPECT_EQ(totalFrames(), frames["a"] + frames["b"]);
}

// The other order: the playbin asks for the next stream while a state change of ours runs
// through it. The hand-over waits for the change to end; skipped, the next item would open on
// its own after the end, with a gap.
TEST_F(GStreamerQueuePlayerTest, TheNextStreamAskedForDuringAStateChangeOfOursIsStillJoined) {
    HandOverGate asked;
    asked.onReached = [this] { queue.post([] {}); };
    // The player has given the next address, or returned without.
    std::promise<void> decided;
    std::once_flag once;
    std::function<void()> decide = [&] { std::call_once(once, [&] { decided.set_value(); }); };
    HandOverGate answered;
    answered.open = true;
    answered.onReached = decide;
    AtScopeEnd unhook{[&] {
        asked.release();
        askGate = nullptr;
        handOverGate = nullptr;
        onAddress = nullptr;
        stateChangeHook = nullptr;
    }};
    askGate = &asked;
    handOverGate = &answered;
    auto starting = std::make_shared<std::atomic<int>>(0);
    makePlayer("fakesink sync=false", countedThreads(starting));
    player->insert(item("a", 0.2));
    GstElement* playbin = latestPlaybin;
    player->insert(item("b", 0.3));
    ASSERT_TRUE(queue.runUntil([&] { return asked.wasReached() && saw("status a ready"); }))
        << ::testing::PrintToString(events);
    // The playbin was started on a thread of its own; play() sets a state once that is back.
    spinUntil([&] { return *starting == 0; });
    queue.runPending();
    onAddress = &decide;
    bool heldInside = false;
    StateChangeHook hook{playbin, GST_STATE_CHANGE_PAUSED_TO_PLAYING, [&](GstElement*) {
                             heldInside = true;
                             asked.release();
                             decided.get_future().wait();
                         }};
    stateChangeHook = &hook;
    player->play();
    EXPECT_TRUE(heldInside) << "play() set no state";
    ASSERT_TRUE(waitFor("current none"));
    expectJoined("a", "b");
}

// After a seek the playbin wins back its playing state by itself, on a thread of its own. The
// next stream asked for meanwhile is handed over once that change has ended: run over the
// switch, it sets the old stream's parts playing as the switch stops them, and they are freed
// running.
TEST_F(GStreamerQueuePlayerTest, TheNextStreamIsHandedOverOnceAStateChangeOfThePlaybinsOwnHasEnded) {
    // The first ask after the seek and the playbin's change meet: each waits, bounded, for the
    // other to have started, so that they run together.
    struct Meeting {
        std::mutex mutex;
        std::condition_variable changed;
        bool asked = false;
        bool changing = false;
        void meet(bool& mine, const bool& theirs) {
            std::unique_lock lock(mutex);
            mine = true;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(2), [&] { return theirs; });
        }
    } meeting;
    std::atomic<bool> armed{false};
    HandOverGate asking{.open = true};
    asking.onReached = [&] {
        if (armed) meeting.meet(meeting.asked, meeting.changing);
    };
    // Once the player has answered, before the playbin switches: whether it still changes state.
    std::optional<GstState> pendingAtSwitch;
    GstElement* playbin = nullptr;
    HandOverGate answered{.open = true};
    answered.onReached = [&] {
        if (!armed.exchange(false)) return;
        GstState pending = GST_STATE_VOID_PENDING;
        gst_element_get_state(playbin, nullptr, &pending, 0);
        pendingAtSwitch = pending;
        queue.post([] {});
    };
    AtScopeEnd unhook{[] {
        askGate = nullptr;
        handOverGate = nullptr;
        stateChangeHook = nullptr;
    }};
    askGate = &asking;
    handOverGate = &answered;
    makePlayer("fakesink sync=true");
    // Long enough that its end is read only after the seek there.
    player->insert(item("a", 5.0));
    playbin = latestPlaybin;
    player->insert(item("b", 0.5));
    player->play();
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
    StateChangeHook hook{playbin, GST_STATE_CHANGE_PAUSED_TO_PLAYING,
                         [&](GstElement*) { meeting.meet(meeting.changing, meeting.asked); }};
    stateChangeHook = &hook;
    armed = true;
    player->seek(4.7, {});
    ASSERT_TRUE(waitFor("end b"));
    {
        std::lock_guard lock(meeting.mutex);
        ASSERT_TRUE(meeting.asked && meeting.changing) << "the ask and the change never met";
    }
    EXPECT_EQ(pendingAtSwitch, GST_STATE_VOID_PENDING)
        << "handed over while the playbin still changed state";
}

// A next song whose data come late, from a server slow to answer or a share that stops answering
// while its file is looked at or opened, is heard from its first sample: once the song before
// has been played out the clock waits for the data, and the song shows as current and loading
// meanwhile.
TEST_F(GStreamerQueuePlayerTest, ANextSongWhoseDataComeLateIsHeardFromItsStart) {
    enum class Late { server, look, open };
    for (Late late : {Late::server, Late::look, Late::open}) {
        SCOPED_TRACE(late == Late::server ? "a server slow to answer"
                     : late == Late::look ? "a share that stops answering a look"
                                          : "a share that stops answering an open");
        const bool share = late == Late::look;
        // A pipe with no writer: opening it waits for one, as an open on a stalled share does.
        // The share answers when a writer lets the waiting open end and the song takes the
        // pipe's place.
        const auto pipe = dir.path() / "b-pipe.wav";
        if (late == Late::open) {
            item("b", 0.3);
            ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        }
        struct Pipe {
            std::filesystem::path path;
            std::filesystem::path song;
            std::once_flag given;
            void answer() {
                if (path.empty()) return;
                std::call_once(given, [&] {
                    const int fd = ::open(path.c_str(), O_RDWR);
                    std::filesystem::copy_file(song, path.string() + ".part");
                    std::filesystem::rename(path.string() + ".part", path);
                    if (fd >= 0) ::close(fd);
                });
            }
            ~Pipe() { answer(); }
        } pipeAnswer{late == Late::open ? pipe : std::filesystem::path{}, dir.path() / "b.wav"};
        // A player whose main thread waits for the open would wait for good: the share answers
        // after a while then, and the test fails instead of hanging.
        std::promise<void> waitedOut;
        auto unfreeze = std::async(std::launch::async, [&pipeAnswer, out = waitedOut.get_future()] {
            if (out.wait_for(std::chrono::seconds(10)) == std::future_status::timeout)
                pipeAnswer.answer();
        });
        AtScopeEnd done{[&] { waitedOut.set_value(); }};
        auto look = std::make_shared<HeldLook>();
        HeldLook::Releaser releaseLook{*look};
        HeldServer held{queue};
        serveWhenAnswered(held, "b", 0.3);
        makePlayer("fakesink sync=true signal-handoffs=true", {},
                   share ? heldBy(look) : std::function<bool(const std::string&)>{});
        auto a = item("a", 1.0);
        auto b = share                ? item("b", 0.3)
                 : late == Late::open ? named("b", uriOf(pipe))
                                      : named("b", held.server.url("/b.wav"));
        player->insert(a);
        GstElement* playbin = latestPlaybin;
        player->insert(b);
        // How late b's first buffer is played on the playbin's clock, -1 until it is; shared with
        // the sink, which may outlive this round in a playbin still being stopped. A clock that ran
        // while b's data were awaited has that buffer played as late as they came. Later buffers
        // tell nothing of it, and one of either song may be played late by a streaming thread
        // kept waiting for a processor on a loaded machine.
        struct NextStart {
            std::string firstStream;  // the stream of a; the streaming thread's only
            std::atomic<gint64> late{-1};
        };
        auto nextStart = std::make_shared<NextStart>();
        GstElement* audioSink = nullptr;
        g_object_get(playbin, "audio-sink", &audioSink, nullptr);
        ASSERT_NE(audioSink, nullptr);
        GstElement* fakesink = fakesinkIn(audioSink);
        gst_object_unref(audioSink);
        ASSERT_NE(fakesink, nullptr);
        g_signal_connect_data(
            fakesink, "handoff",
            G_CALLBACK(+[](GstElement* sink, GstBuffer* buffer, GstPad* pad, gpointer data) {
                auto& start = **static_cast<std::shared_ptr<NextStart>*>(data);
                if (start.late >= 0) return;
                GstEvent* begun = gst_pad_get_sticky_event(pad, GST_EVENT_STREAM_START, 0);
                const gchar* id = nullptr;
                if (begun) gst_event_parse_stream_start(begun, &id);
                const std::string stream = id ? id : "";
                if (begun) gst_event_unref(begun);
                if (start.firstStream.empty()) start.firstStream = stream;
                if (stream == start.firstStream) return;
                GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
                GstClock* clock = gst_element_get_clock(sink);
                if (event && clock) {
                    GstSegment segment;
                    gst_event_copy_segment(event, &segment);
                    const auto due = gst_segment_to_running_time(&segment, GST_FORMAT_TIME,
                                                                 GST_BUFFER_PTS(buffer));
                    const auto now = gst_clock_get_time(clock) - gst_element_get_base_time(sink);
                    start.late = std::max<gint64>(0, GST_CLOCK_DIFF(due, now));
                }
                if (event) gst_event_unref(event);
                if (clock) gst_object_unref(clock);
            }),
            new std::shared_ptr<NextStart>(nextStart),
            [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<NextStart>*>(data); },
            GConnectFlags(0));
        gst_object_unref(fakesink);
        player->play();
        ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
        // Half a second of silence after the first song's end, on the playbin's clock, unless
        // the clock waits.
        ASSERT_TRUE(runUntilClockOf(
            playbin,
            [&](GstClock*) { return gst_element_get_base_time(playbin) + 3 * GST_SECOND / 2; },
            [&] { return saw("current b"); }));
        EXPECT_TRUE(saw("end a")) << ::testing::PrintToString(events);
        EXPECT_EQ(player->currentItem(), b);
        EXPECT_EQ(b->status(), PlayerItem::Status::unknown);
        EXPECT_EQ(timeControl, Status::waitingToPlayAtSpecifiedRate);
        // The data come half a second after the song became current, on the playbin's clock: a
        // clock that ran meanwhile would have them played that late.
        ASSERT_TRUE(waitOnClockOf(playbin, GST_SECOND / 2));
        held.letAll();
        look->release();
        pipeAnswer.answer();
        ASSERT_TRUE(waitFor("current none"));
        // A network stream may tell its buffer is filling once it plays; it pauses the clock too.
        std::erase(events, "stalled b");
        EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "current b",
                                  "status b ready", "end b", "current none"}));
        EXPECT_EQ(totalFrames(), frames["a"] + frames["b"]);
        // Half the silence: a clock that ran meanwhile fails it twice over.
        EXPECT_GE(nextStart->late.load(), 0) << "b was not heard";
        EXPECT_LT(nextStart->late.load(), GST_SECOND / 4) << "played late";
        player.reset();  // its connection would hold up the server's stop
    }
}

// Streams from a server that ignores "Range" cannot seek, and their whole body arrives at once,
// so the next stream is handed over while the current one is still filling its buffer. Every
// way of moving on must still bring the next item to play; the race is rare, so it is looped.
TEST_F(GStreamerQueuePlayerTest, StreamsThatCannotSeekAlwaysMoveOnToPlaying) {
    const std::string body = songBytes("song", 0.6, 8000, 1, 0.2);
    FakeHttpServer server;
    server.get("/song.wav", [&](const httplib::Request&, httplib::Response& response) {
        answerIgnoringRange(response, 200, "audio/wav", body);
    });
    enum class Move { nextWhilePaused, seekThenNext, endAtAnotherRate };
    for (int round = 0; round < 20; ++round) {
        for (Move move : {Move::nextWhilePaused, Move::seekThenNext, Move::endAtAnotherRate}) {
            SCOPED_TRACE(std::to_string(round) + "/" + std::to_string(int(move)));
            makePlayer("fakesink sync=true");
            auto a = named("a", server.url("/song.wav"));
            auto b = named("b", server.url("/song.wav"));
            player->insert(a);
            player->insert(b);
            player->play();
            ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
            if (move == Move::endAtAnotherRate) {
                player->setRate(1.5);
            } else {
                player->pause();
                if (move == Move::seekThenNext) player->seek(0.3, {});
                player->advanceToNextItem();
                player->play();
            }
            ASSERT_TRUE(queue.runUntil([&] {
                return player->currentItem() == b && timeControl == Status::playing;
            })) << ::testing::PrintToString(events);
            player.reset();
        }
    }
}

// A server that ignores "Range", even one that gives the body's length, answers the first request
// with the whole stream: the song cannot be sought. A seek (a restored position, a click on the
// seek bar) is refused without asking the server, and the song plays on. On a server that takes
// ranges, a seek past the first data asks for its part; the playbin also says it is done
// changing state when no seek has ended (a second time after its preroll, over and over as it
// starts playing): one of those, here a stand-in, comes while the server still holds its answer
// to the seek, and tells nothing of where the song is.
TEST_F(GStreamerQueuePlayerTest, ASeekTheServerCannotAnswerLeavesTheSongPlaying) {
    const std::string shortSong = songBytes("short", 0.4, 8000, 1, 0.2);
    // Longer than its first data fetched ahead, so that a seek near its end asks the server.
    constexpr double far = 6.0;
    const std::string longSong = songBytes("long", far + 0.2, sampleRate, 2, 0.2);
    ASSERT_GT(std::size_t(far * sampleRate) * 2 * sizeof(std::int16_t), StreamHeads::headBytes);
    const std::string afterHead = "bytes=" + std::to_string(StreamHeads::headBytes) + "-";
    struct Answers {
        std::mutex mutex;
        std::condition_variable changed;
        bool asked = false;  // a request for a part of the song is held
        bool open = false;
        void let(bool go) {
            std::lock_guard lock(mutex);
            open = go;
            if (!go) asked = false;
            changed.notify_all();
        }
    };
    Answers answers;
    FakeHttpServer server;
    AtScopeEnd letGo{[&] { answers.let(true); }};  // before the server stops, which waits
    for (const std::string route : {"/whole.wav", "/ranged.wav"}) {
        const bool whole = route == "/whole.wav";
        server.get(route, [&, whole](const httplib::Request& request, httplib::Response& response) {
            // The start (the first data fetched ahead) and the rest after it are answered; a
            // request from elsewhere, a seek's, is held.
            if (const auto range = request.get_header_value("Range");
                !range.empty() && !range.starts_with("bytes=0-") && range != afterHead) {
                std::unique_lock lock(answers.mutex);
                answers.asked = true;
                queue.post([] {});
                answers.changed.wait(lock, [&] { return answers.open; });
            }
            // Dropped, the ranges are not cut by the loopback server itself.
            if (whole) const_cast<httplib::Request&>(request).ranges.clear();
            response.set_content(whole ? shortSong : longSong, "audio/wav");
        });
        // Near the end, the next song may be handed over before the seek is refused.
        for (int round = 0; round < (whole ? 8 : 2); ++round) {
            const bool whilePlaying = round % 2;
            SCOPED_TRACE(route + " " + std::to_string(round));
            makePlayer("fakesink sync=true");
            answers.let(false);
            player->insert(named("a", server.url(route)));
            player->insert(whole ? named("b", server.url(route)) : item("b", 0.2));
            const double target = whole ? 0.2 + 0.1 * whilePlaying : far;
            std::optional<bool> moved;
            if (!whilePlaying) player->seek(target, [&](bool done) { moved = done; });
            player->play();
            if (whilePlaying) {
                ASSERT_TRUE(waitFor("status a ready"));
                player->seek(target, [&](bool done) { moved = done; });
            }
            if (!whole) {
                ASSERT_TRUE(queue.runUntil([&] {
                    std::lock_guard lock(answers.mutex);
                    return answers.asked;
                }));
                GstElement* playbin = latestPlaybin;
                gst_element_post_message(
                    playbin, gst_message_new_async_done(GST_OBJECT(playbin), GST_CLOCK_TIME_NONE));
                queue.runPending();
                EXPECT_EQ(moved, std::nullopt) << "taken as done before the server answered";
            }
            answers.let(true);
            ASSERT_TRUE(waitFor("current none"));
            EXPECT_TRUE(saw("end a") && saw("end b")) << ::testing::PrintToString(events);
            EXPECT_EQ(moved, !whole);
            if (whole) {
                std::lock_guard lock(answers.mutex);
                EXPECT_FALSE(answers.asked) << "a server that ignores ranges was asked for a part";
            }
            player.reset();
        }
    }
}

// Streams from a server that ignores "Range" and sends no length, the first held before it
// answers: its playbin is still moving to its first state while play, pause and play are asked.
// It takes one state change at a time (one set while another is under way can be lost, the
// playbin then never moving again) and ends playing. A seek is refused at once: the song plays
// on where it was, though the next one, its whole body come at once, is already handed over.
TEST_F(GStreamerQueuePlayerTest, AHeldStreamThatCannotSeekEndsPlayingAndPlaysOnPastASeek) {
    constexpr int rate = 8000;
    const std::string body = songBytes("song", 1.0, rate, 1, 0.2);
    const std::size_t songFrames = frames["song"];
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> asked{false};
    FakeHttpServer server;
    server.get("/song.wav", [&](const httplib::Request&, httplib::Response& response) {
        asked = true;
        queue.post([] {});
        released.wait();
        answerIgnoringRange(response, 200, "audio/wav", body);
    });
    // The next song's, fetched ahead as it becomes next: not the current one's ask.
    server.get("/next.wav", [&](const httplib::Request&, httplib::Response& response) {
        released.wait();
        answerIgnoringRange(response, 200, "audio/wav", body);
    });
    makePlayer("fakesink sync=true");
    player->insert(named("a", server.url("/song.wav")));
    player->insert(named("b", server.url("/next.wav")));
    // The song's first data may be asked for before its playbin starts: held, and on its way.
    const bool held = queue.runUntil([&] {
        return asked.load() && latestPlaybin && targetState(latestPlaybin) == GST_STATE_PAUSED;
    });
    GstElement* playbin = latestPlaybin;
    // What is asked while the playbin moves to its first state waits for it to settle.
    std::vector<GstState> targets;
    for (bool play : {true, false, true}) {
        play ? player->play() : player->pause();
        if (playbin) targets.push_back(targetState(playbin));
    }
    release.set_value();
    ASSERT_TRUE(held);
    EXPECT_EQ(targets, std::vector<GstState>(3, GST_STATE_PAUSED))
        << "a state was set while the playbin still moved to the one before";
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));

    ASSERT_TRUE(queue.runUntil([&] { return framesAtOrAfter(0) >= songFrames / 4; }));
    std::optional<bool> sought;
    player->seek(0.8, [&](bool finished) { sought = finished; });
    queue.runPending();
    EXPECT_EQ(sought, false) << "the seek was not refused at once";
    EXPECT_LT(player->currentTime(), 0.8);
    ASSERT_TRUE(waitFor("end b"));
    EXPECT_FALSE(saw("stalled a"));
    // Every buffer follows the one before: nothing flushed, nothing played twice or skipped.
    std::size_t played = 0;
    std::optional<double> jumpedAt;
    for (const auto& buffer : sinkBuffers()) {
        const double expected = double(played % songFrames) / rate;
        if (!jumpedAt && std::abs(buffer.streamTime - expected) > 0.5 / rate) jumpedAt = expected;
        played += buffer.frames;
    }
    EXPECT_EQ(jumpedAt, std::nullopt) << "played on from elsewhere";
    EXPECT_EQ(played, 2 * songFrames);
}

// Songs whose files block on read (a stalled network share) stay loading. Opening one, where
// even open() may wait for the share, and moving on must leave each without waiting for it,
// which would freeze the program until the share answers; the stuck ones tie up no more than
// the few threads that stop replaced playbins and the one whose open waits.
TEST_F(GStreamerQueuePlayerTest, ItemsStuckInAReadAreLeftWithoutWaitingForThem) {
    makePlayer("fakesink sync=false");
    // Writers that never finish: reads block until they close, which ends every stuck read.
    // Before that, empty files take the pipes' places, so no song opened later blocks there.
    struct Writers {
        std::vector<std::filesystem::path> paths;
        std::vector<int> fds;
        std::filesystem::path unopened;  // a pipe without a writer: opening it waits for one
        void close() {
            if (!unopened.empty()) {
                // Lets an open under way end; one made after it finds an empty file.
                int fd = ::open(unopened.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) fds.push_back(fd);
                paths.push_back(std::exchange(unopened, {}));
            }
            for (const auto& path : paths) {
                std::filesystem::remove(path);
                std::ofstream{path};
            }
            for (int fd : fds) ::close(fd);
            fds.clear();
        }
        ~Writers() { close(); }
    } writers;
    writers.unopened = dir.path() / "unopened.wav";
    ASSERT_EQ(mkfifo(writers.unopened.c_str(), 0600), 0);
    const auto unstick = [&] { writers.close(); };
    ASSERT_TRUE(returnsAtOnce(
        [&] {
            player->insert(named("unopened", uriOf(writers.unopened)));
            player->play();
            queue.runPending();  // starts it
        },
        unstick))
        << "opening the song waited for its file to open";
    constexpr int stalledCount = 2 * GStreamerQueuePlayer::maxRetiringThreads;
    std::vector<PlayerItemPtr> stalled;
    for (int i = 0; i < stalledCount; ++i) {
        auto path = dir.path() / ("stalled" + std::to_string(i) + ".wav");
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        int writer = ::open(path.c_str(), O_RDWR);
        ASSERT_GE(writer, 0);
        writers.paths.push_back(path);
        writers.fds.push_back(writer);
        ASSERT_EQ(::write(writer, "RIFF", 4), 4);
        stalled.push_back(named("stalled", uriOf(path)));
        player->insert(stalled.back());
    }
    auto a = item("a", 0.2);
    player->insert(a);
    const auto moveOn = [&] {
        player->advanceToNextItem();
        queue.runPending();  // starts the next one
    };
    ASSERT_TRUE(returnsAtOnce(moveOn, unstick)) << "moving on waited for the file to open";
    GstElement* lastStalled = nullptr;
    for (int i = 0; i < stalledCount; ++i) {
        SCOPED_TRACE(i);
        // The player has read what there was and waits in the next read.
        ASSERT_TRUE(spinUntil([&] {
            int unread = 0;
            return ::ioctl(writers.fds[i], FIONREAD, &unread) == 0 && unread == 0;
        })) << "the stalled song was never read";
        if (i == stalledCount - 1) lastStalled = latestPlaybin;
        ASSERT_TRUE(returnsAtOnce(moveOn, unstick)) << "moving on waited for the stuck read";
    }
    // Both threads that stop the playbins left behind wait on stuck ones, so the last one left
    // still runs. Its read let go with the rest of a song, the song reaches the sink there,
    // unheard.
    std::atomic<bool> reachedSink{false};
    probeBeforeSink(
        lastStalled, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer reached) {
            static_cast<std::atomic<bool>*>(reached)->store(true);
            return GST_PAD_PROBE_OK;
        },
        &reachedSink);
    const std::string song = songBytes("rest", 0.2).substr(4);  // after the "RIFF" read already
    ASSERT_EQ(::write(writers.fds.back(), song.data(), song.size()), ssize_t(song.size()));
    ASSERT_TRUE(spinUntil([&] { return reachedSink.load(); }));
    auto played = waitFor("end a");
    // Threads that started playbins which opened are free at once; what stays busy is what is
    // stuck. Work passing through (the stop of the last song's playbin) comes and goes.
    int live = 0;
    spinUntil([&] {
        live = player->busyThreads();
        return live <= GStreamerQueuePlayer::maxRetiringThreads + 1;
    });
    writers.close();
    ASSERT_TRUE(played);
    EXPECT_LE(live, GStreamerQueuePlayer::maxRetiringThreads + 1);
    for (const auto& item : stalled) EXPECT_EQ(item->status(), PlayerItem::Status::unknown);
    EXPECT_EQ(totalFrames(), frames["a"]);
    // With the reads ended, every playbin left behind is stopped, those that waited too.
    EXPECT_TRUE(queue.runUntil([&] { return !player->tearingDown(); }));
}

// Before the next song is handed over its file is looked at, which on a share that stopped
// answering lasts as long as the share does. A pause, a seek and a change of the queue asked
// meanwhile return at once. A song queued behind the current one meanwhile is looked at in turn
// and joined in place of the one looked at first; after a seek the song behind is still joined,
// at the end the seek leads to. The look is made as the song becomes next, not on the playbin's
// thread that asks for it, which only waits for the answer.
TEST_F(GStreamerQueuePlayerTest, ALookAtTheNextSongsFileHoldsNothingElse) {
    for (bool seeking : {false, true}) {
        SCOPED_TRACE(seeking ? "a seek" : "a change of the queue");
        std::mutex askingMutex;
        std::set<std::uint64_t> asking;
        HandOverGate asked{.open = true};
        asked.onReached = [&] {
            std::lock_guard lock(askingMutex);
            asking.insert(threadSerial());
        };
        AtScopeEnd unhook{[] { askGate = nullptr; }};
        askGate = &asked;
        auto look = std::make_shared<HeldLook>();
        HeldLook::Releaser release{*look};
        makePlayer("fakesink sync=true", {}, heldBy(look));
        auto a = item("a", 1.0);
        auto b = item("b", 0.3);
        auto c = item("c", 0.3);
        player->insert(a);
        player->insert(b);
        player->play();
        ASSERT_TRUE(queue.runUntil([&] { return look->count() > 0; }));
        EXPECT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }))
            << "the player's messages waited for the look";
        const auto unhold = [&] { look->release(); };
        std::optional<bool> sought;
        ASSERT_TRUE(returnsAtOnce([&] { player->pause(); }, unhold)) << "the pause waited";
        if (seeking) {
            ASSERT_TRUE(returnsAtOnce(
                [&] { player->seek(0.5, [&](bool finished) { sought = finished; }); }, unhold))
                << "the seek waited";
        } else {
            ASSERT_TRUE(returnsAtOnce([&] { player->remove(b); }, unhold)) << "the removal waited";
            ASSERT_TRUE(returnsAtOnce([&] { player->insert(c); }, unhold)) << "the insert waited";
        }
        look->release();
        player->play();
        ASSERT_TRUE(waitFor("current none"));
        const std::string next = seeking ? "b" : "c";
        takeLateDataAsJoined(next);
        EXPECT_EQ(events,
                  (Events{"current a", "status a ready", "end a", "status " + next + " ready",
                          "current " + next, "end " + next, "current none"}));
        if (seeking) {
            EXPECT_EQ(sought, true);
            EXPECT_EQ(framesFrom(0.5), frames["a"] - std::size_t(0.5 * sampleRate) + frames["b"]);
        } else {
            std::lock_guard lock(look->mutex);
            EXPECT_EQ(look->asked, (std::vector<std::string>{"b", "c"}));
        }
        {
            std::lock_guard lock(look->mutex);
            std::lock_guard asks(askingMutex);
            ASSERT_FALSE(asking.empty());
            for (auto thread : look->threads)
                EXPECT_EQ(asking.count(thread), 0u) << "looked at on the thread that asked";
        }
        player.reset();
    }
}

// Why a song failed is told by its file: missing, or there but refused. On a share that stopped
// answering that look lasts as long as the share does; a pause, a seek and a skip asked
// meanwhile return at once. The failure is told once the look is back, unless the song was left
// meanwhile: the song played instead is not the one that failed.
TEST_F(GStreamerQueuePlayerTest, ALookAtAFailedSongsFileHoldsNothingElse) {
    for (bool skipping : {false, true}) {
        SCOPED_TRACE(skipping ? "a skip" : "a pause and a seek");
        auto look = std::make_shared<HeldLook>();
        HeldLook::Releaser release{*look};
        makePlayer("fakesink sync=false", {}, heldBy(look));
        auto missing = named("missing", uriOf(dir.path() / "gone.wav"));
        auto a = item("a", 0.3);
        player->insert(missing);
        player->insert(a);
        player->play();
        ASSERT_TRUE(queue.runUntil([&] { return look->count() > 0; }));
        {
            std::lock_guard lock(look->mutex);
            ASSERT_FALSE(look->overran) << "the look at the failed song's file held the player";
        }
        const auto unhold = [&] { look->release(); };
        if (!skipping) {
            std::optional<bool> sought;
            ASSERT_TRUE(returnsAtOnce([&] { player->pause(); }, unhold)) << "the pause waited";
            ASSERT_TRUE(returnsAtOnce(
                [&] { player->seek(0.1, [&](bool finished) { sought = finished; }); }, unhold))
                << "the seek waited";
            look->release();
            ASSERT_TRUE(waitFor("status missing failed"));
            EXPECT_EQ(missing->errorMessage(), "找不到音频文件，可能已被移动或删除");
            EXPECT_EQ(sought, false);
            EXPECT_EQ(player->currentItem(), missing);
        } else {
            ASSERT_TRUE(returnsAtOnce([&] { player->advanceToNextItem(); }, unhold))
                << "the skip waited";
            EXPECT_TRUE(waitFor("end a")) << "the next song waited for the look";
            look->release();
            // Every look and every playbin's work ended: whatever they posted is in the queue.
            ASSERT_TRUE(spinUntil([&] { return player->busyThreads() == 0; }));
            queue.runPending();
            EXPECT_FALSE(saw("status missing failed")) << ::testing::PrintToString(events);
            EXPECT_EQ(missing->status(), PlayerItem::Status::unknown);
        }
        player.reset();
    }
}

TEST_F(GStreamerQueuePlayerTest, EditsTheQueue) {
    makePlayer();
    auto a = item("a", 0.2);
    auto b = item("b", 0.2);
    auto c = item("c", 0.2);
    EXPECT_TRUE(player->insert(a));
    EXPECT_TRUE(player->insert(c, a));
    EXPECT_TRUE(player->insert(b, a));
    EXPECT_FALSE(player->insert(b));                               // already queued
    EXPECT_FALSE(player->insert(item("d", 0.1), item("x", 0.1)));  // unknown anchor
    EXPECT_FALSE(player->insert(nullptr));
    EXPECT_EQ(player->items(), (std::vector<PlayerItemPtr>{a, b, c}));
    player->remove(b);
    EXPECT_EQ(player->items(), (std::vector<PlayerItemPtr>{a, c}));
    player->replaceCurrentItem(b);
    EXPECT_EQ(player->items(), (std::vector<PlayerItemPtr>{b, c}));
    player->removeAllItems();
    EXPECT_EQ(player->currentItem(), nullptr);
    queue.runPending();
    EXPECT_EQ(events.back(), "current none");
}

// The stream handed over opens while the current one plays out, and every change of the
// playbin waits for it; a server slow to answer holds it until the current song has ended. A
// pause or a play asked meanwhile still takes effect at once, and playing is told as it sounds.
TEST_F(GStreamerQueuePlayerTest, PauseAndPlayTakeEffectWhileTheNextStreamOpens) {
    HeldServer held{queue};
    serveWhenAnswered(held, "b", 0.3);
    makePlayer("fakesink sync=true");
    player->insert(item("a", 2.0));
    GstElement* playbin = latestPlaybin;
    player->insert(named("b", held.server.url("/b.wav")));
    player->play();
    ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
    // Handed over: its source waits for the answer.
    ASSERT_TRUE(held.server.waitForRequests(1));
    GstElement* sink = nullptr;
    g_object_get(playbin, "audio-sink", &sink, nullptr);
    ASSERT_NE(sink, nullptr);
    std::unique_ptr<GstElement, decltype(&gst_object_unref)> holdSink(sink, gst_object_unref);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        player->pause();
        EXPECT_EQ(player->timeControlStatus(), Status::paused);
        // A sink stops at once, then waits for a buffer before it is paused. Work of the
        // playbin's still under way on its worker may go first; the stream handed over, held at
        // the server until the end of this test, may not.
        EXPECT_TRUE(spinUntil([&] { return targetState(sink) == GST_STATE_PAUSED; }))
            << "the pause was held back";
        player->play();
        EXPECT_EQ(player->timeControlStatus(), Status::playing);
        int heard = probeCalls;
        ASSERT_TRUE(queue.runUntil([&] { return probeCalls > heard; })) << "no sound after play";
        // A buffer may reach the sink before the playbin has told it plays, and under load
        // data may come late: told once that is over, never left waiting.
        EXPECT_TRUE(queue.runUntil([&] { return player->timeControlStatus() == Status::playing; }))
            << "sounding, but not told";
    }
    held.letAll();
    ASSERT_TRUE(waitFor("current none"));
    expectJoined("a", "b");
}

// A song change, joined or skipped to, makes no thread: the work on playbins goes to threads the
// player already has.
TEST_F(GStreamerQueuePlayerTest, ASongChangeMakesNoThread) {
    auto made = std::make_shared<std::atomic<int>>(0);
    makePlayer("fakesink sync=true", [made](std::function<void()> work) {
        ++*made;
        std::thread(std::move(work)).detach();
    });
    for (const char* label : {"a", "b", "c"}) item(label, 0.3);
    player->play();
    // A song joined to the one before, a skip to one opened anew, the end of the queue.
    auto changes = [&] {
        events.clear();
        auto a = named("a", uriOf(dir.path() / "a.wav"));
        player->insert(a);
        player->insert(named("b", uriOf(dir.path() / "b.wav")));
        if (!waitFor("end a")) return false;
        player->insert(named("c", uriOf(dir.path() / "c.wav")));
        player->advanceToNextItem();
        return waitFor("current none") && queue.runUntil([&] { return !player->tearingDown(); });
    };
    ASSERT_TRUE(changes());  // the threads the player keeps are made here
    ASSERT_TRUE(changes());
    const int kept = *made;
    for (int round = 0; round < 3; ++round) ASSERT_TRUE(changes()) << round;
    EXPECT_EQ(*made - kept, 0) << "threads made over nine song changes";
}

// Nor does a change between network songs: their first data fetched ahead and the rest streamed
// run on a few transfer threads the player keeps, not on one per fetch. Counted in the whole
// process, as a transfer may start its thread by any means.
TEST_F(GStreamerQueuePlayerTest, ANetworkSongChangeMakesNoThread) {
    FakeHttpServer server;
    server.get("/song.wav", [content = songBytes("song", 0.3)](const httplib::Request&,
                                                               httplib::Response& response) {
        response.set_content(content, "audio/wav");
    });
    makePlayer("fakesink sync=true");
    player->play();
    // Each song queued behind the one playing, as the program queues the next, then a skip.
    int played = 0;
    auto changes = [&] {
        for (int i = 0; i < 3; ++i) {
            const std::string label = "s" + std::to_string(++played);
            player->insert(named(label, server.url("/song.wav")));
            if (!waitFor("current " + label)) return false;
        }
        player->insert(named("skipped", server.url("/song.wav")));
        player->advanceToNextItem();
        return static_cast<bool>(waitFor("current skipped"));
    };
    ASSERT_TRUE(changes()) << ::testing::PrintToString(events);  // the kept threads are made here
    ASSERT_TRUE(changes()) << ::testing::PrintToString(events);
    const std::uint64_t before = threadsStarted();
    for (int round = 0; round < 4; ++round)
        ASSERT_TRUE(changes()) << round << ::testing::PrintToString(events);
    // A kept thread may still be added the first time more transfers or playbin tasks overlap
    // than before; a few at most, whatever the number of songs, where a thread per fetch makes
    // two a song.
    EXPECT_LE(threadsStarted() - before, std::uint64_t(StreamHeads::transferThreads))
        << "threads made over sixteen network song changes";
}

// Each pick of a song whose open() never returns (its share stopped answering) leaves a playbin
// behind that waits for it, and a look at its file. The opens and the looks at one place hold a
// bounded number of threads; a playbin picked over before its open began never starts one, and
// is let go of at once.
TEST_F(GStreamerQueuePlayerTest, PicksOfASongWhoseOpenNeverReturnsHoldFewThreads) {
    auto live = std::make_shared<std::atomic<int>>(0);
    makePlayer("fakesink sync=false", countedThreads(live));
    // A pipe with no writer: opening it waits for one. The writer, at the end, lets every open
    // end.
    const auto hung = dir.path() / "hung.wav";
    AtScopeEnd writer{[&] {
        const int fd = ::open(hung.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }};
    ASSERT_EQ(mkfifo(hung.c_str(), 0600), 0);
    player->play();
    constexpr int picks = 50;
    for (int pick = 0; pick < picks; ++pick) {
        player->insert(named("hung", uriOf(hung)), player->currentItem());
        if (pick > 0) player->advanceToNextItem();
        queue.runPending();
    }
    // Stuck at the place: the opens, and the looks at the file as it was queued next; beside
    // them, the threads kept idle.
    const int stuck = 2 * GStreamerQueuePlayer::maxThreadsPerPlace;
    EXPECT_TRUE(spinUntil([&] {
        return player->busyThreads() <= stuck &&
               *live <= stuck + GStreamerQueuePlayer::keptThreads;
    })) << *live << " threads, " << player->busyThreads() << " at work after " << picks
        << " picks";
}

// The look at the next song's file on a share that stopped answering holds that song only. Once
// it is no longer next, in whichever order of the changes and at whatever moment, even while the
// current song's end waits for that look: the song put in its place is joined when the current
// one ends, as if the share had answered, and with none put there the current one ends at once.
TEST_F(GStreamerQueuePlayerTest, ASongNoLongerNextHoldsNothing) {
    enum class Change {
        removedThenQueued,       // in one turn
        queuedThenRemoved,       // in one turn
        removedThenQueuedLater,  // once the current song plays, before its end asks
        removed,                 // before the end asks for the next song
        removedWhileTheEndWaits,
        removedThenQueuedWhileTheEndWaits,  // in one turn
        pausedAndSoughtWhileTheEndWaitsThenRemoved,
    };
    for (Change change :
         {Change::removedThenQueued, Change::queuedThenRemoved, Change::removedThenQueuedLater,
          Change::removed, Change::removedWhileTheEndWaits,
          Change::removedThenQueuedWhileTheEndWaits,
          Change::pausedAndSoughtWhileTheEndWaitsThenRemoved}) {
        SCOPED_TRACE(static_cast<int>(change));
        const bool whileTheEndWaits = change == Change::removedWhileTheEndWaits ||
                                      change == Change::removedThenQueuedWhileTheEndWaits ||
                                      change == Change::pausedAndSoughtWhileTheEndWaitsThenRemoved;
        const bool queued = change == Change::removedThenQueued ||
                            change == Change::queuedThenRemoved ||
                            change == Change::removedThenQueuedLater ||
                            change == Change::removedThenQueuedWhileTheEndWaits;
        HandOverGate asked{.open = change != Change::removedThenQueuedLater,
                           .onReached = [this] { queue.post([] {}); }};
        AtScopeEnd unhook{[&] {
            asked.release();
            askGate = nullptr;
        }};
        askGate = &asked;
        auto look = std::make_shared<HeldLook>();
        HeldLook::Releaser release{*look};
        auto held = heldBy(look);
        // Unsynchronised, the current song is read to its end at once, and the end waits for
        // the look while the song is still far from played out.
        makePlayer(whileTheEndWaits ? "fakesink sync=false" : "fakesink sync=true", {},
                   [held](const std::string& path) {
                       return std::filesystem::path(path).stem() == "share" ? held(path) : true;
                   });
        // Long enough for the song joined to start before the current one is played out,
        // with the main thread late under load.
        auto a = item("a", whileTheEndWaits ? 2.0 : 1.5);
        auto share = item("share", 0.3);
        auto home = item("home", 0.3);
        player->insert(a);
        player->insert(share);
        player->play();
        ASSERT_TRUE(queue.runUntil([&] { return look->count() > 0; }));
        std::optional<bool> sought;
        if (whileTheEndWaits) {
            ASSERT_TRUE(queue.runUntil([&] { return asked.wasReached(); }));
        }
        // The current song has been read to its end: all of it that reaches the sink from its
        // place on comes after the seek.
        if (change == Change::pausedAndSoughtWhileTheEndWaitsThenRemoved) clearSinkBuffers();
        switch (change) {
            case Change::removedThenQueued:
            case Change::removedThenQueuedWhileTheEndWaits:
                player->remove(share);
                player->insert(home);
                break;
            case Change::queuedThenRemoved:
                player->insert(home, a);
                player->remove(share);
                break;
            case Change::removedThenQueuedLater:
                player->remove(share);
                ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
                player->insert(home);
                asked.release();
                break;
            case Change::removed:
            case Change::removedWhileTheEndWaits:
                player->remove(share);
                break;
            case Change::pausedAndSoughtWhileTheEndWaitsThenRemoved:
                player->pause();
                player->seek(0.5, [&](bool finished) { sought = finished; });
                ASSERT_TRUE(queue.runUntil([&] { return sought.has_value(); }));
                player->remove(share);
                player->play();
                break;
        }
        EXPECT_TRUE(waitFor("current none"));
        std::vector<std::string> expected = {"current a", "status a ready", "end a"};
        if (queued)
            expected.insert(expected.end(), {"status home ready", "current home", "end home"});
        expected.push_back("current none");
        if (queued) takeLateDataAsJoined("home");
        EXPECT_EQ(events, expected);
        if (change == Change::pausedAndSoughtWhileTheEndWaitsThenRemoved) {
            EXPECT_EQ(sought, true);
            EXPECT_EQ(framesFrom(0.5), frames["a"] - std::size_t(0.5 * sampleRate));
        } else {
            EXPECT_EQ(totalFrames(), frames["a"] + (queued ? frames["home"] : 0));
        }
        if (!queued) {
            // Ended as an empty queue ends, the wish to play kept, the look still held.
            EXPECT_TRUE(player->items().empty());
            EXPECT_EQ(player->timeControlStatus(), Status::waitingToPlayAtSpecifiedRate);
            std::lock_guard lock(look->mutex);
            EXPECT_FALSE(look->open || look->overran);
        }
        look->release();
        player.reset();
    }
}

// A song sought while it waits for its data at a natural change is opened again at that place;
// the song behind it stays the one behind it: looked at, and joined to it.
TEST_F(GStreamerQueuePlayerTest, TheSongBehindASongSoughtWhileItWaitsForItsDataIsJoinedToIt) {
    HeldServer held{queue};
    serveWhenAnswered(held, "b", 1.0);
    makePlayer("fakesink sync=true");
    player->insert(item("a", 0.2));
    player->insert(named("b", held.server.url("/b.wav")));
    player->insert(item("c", 0.3));
    player->play();
    ASSERT_TRUE(waitFor("current b"));
    ASSERT_FALSE(saw("status b ready"));
    std::optional<bool> sought;
    player->seek(0.5, [&](bool done) { sought = done; });
    queue.runPending();
    held.letAll();
    ASSERT_TRUE(waitFor("current none"));
    EXPECT_EQ(sought, true);
    takeLateDataAsJoined("c");
    EXPECT_EQ(events, (Events{"current a", "status a ready", "end a", "current b", "status b ready",
                              "end b", "status c ready", "current c", "end c", "current none"}));
    EXPECT_EQ(framesFrom(0.5), frames["b"] - std::size_t(0.5 * sampleRate) + frames["c"]);
}

// A song whose share stops answering in the middle of a read is heard up to where its data end.
// The playbin's clock is held meanwhile, and the song goes on from there, without a jump back
// and without skipping what was held up, once the data come again: at once, or when played
// again after a pause during the wait. An end held up after the data (a decoder late with it
// under load) is such a wait too: the song ends when it comes. Data held in a slow sink are not.
TEST_F(GStreamerQueuePlayerTest, ThePositionStandsWhileNoDataAreHeard) {
    const std::string whole = songBytes("song", 2.0);
    for (bool pausedMeanwhile : {false, true}) {
        SCOPED_TRACE(pausedMeanwhile ? "paused during the wait" : "played through");
        makePlayer("fakesink sync=true");
        const auto pipe = dir.path() / (pausedMeanwhile ? "paused.wav" : "stalling.wav");
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        // Held open by its writer, the pipe keeps a read of it waiting once it is empty.
        int writer = ::open(pipe.c_str(), O_RDWR);
        AtScopeEnd closeWriter{[&] {
            if (writer >= 0) ::close(writer);
        }};
        ASSERT_GE(writer, 0);
        // Room for the whole song, so that no write waits for the reader.
        ASSERT_GE(::fcntl(writer, F_SETPIPE_SZ, 1 << 20), 1 << 19);
        constexpr std::size_t frameBytes = 2 * sizeof(std::int16_t);
        const std::size_t heard =
            whole.size() - 2 * sampleRate * frameBytes + std::size_t(0.4 * sampleRate) * frameBytes;
        ASSERT_EQ(::write(writer, whole.data(), heard), ssize_t(heard));
        const std::string name = pausedMeanwhile ? "paused" : "stalling";
        player->insert(named(name, uriOf(pipe)));
        player->play();
        ASSERT_TRUE(queue.runUntil([&] { return timeControl == Status::playing; }));
        ASSERT_TRUE(waitFor("stalled " + name));
        EXPECT_EQ(timeControl, Status::waitingToPlayAtSpecifiedRate);
        ASSERT_TRUE(waitOnClockOf(latestPlaybin, GST_SECOND / 2));
        const double standing = player->currentTime();
        EXPECT_LE(standing, 0.4 + 1e-3) << "the position ran on without data";
        EXPECT_GE(standing, 0.4 - 0.05) << "the song stood before its data ended";
        const std::string rest = whole.substr(heard);
        GstClock* clock = gst_element_get_clock(latestPlaybin);
        ASSERT_NE(clock, nullptr);
        if (pausedMeanwhile) {
            player->pause();
            const std::size_t before = totalFrames();
            ASSERT_EQ(::write(writer, rest.data(), rest.size()), ssize_t(rest.size()));
            ASSERT_TRUE(queue.runUntil([&] { return totalFrames() > before; }));
            ASSERT_TRUE(waitOnClockOf(latestPlaybin, GST_SECOND / 4));
            EXPECT_EQ(timeControl, Status::paused);
            EXPECT_NEAR(player->currentTime(), standing, 1e-3) << "the song moved while paused";
            player->play();
        }
        const GstClockTime resumedAt = gst_clock_get_time(clock);
        if (!pausedMeanwhile) {
            ASSERT_EQ(::write(writer, rest.data(), rest.size()), ssize_t(rest.size()));
        }
        ::close(std::exchange(writer, -1));
        double lowest = standing;
        // How far the song got ahead of the time it played since its data came again: what a
        // real sink skips, as it plays the late data at the clock's place.
        double ahead = 0;
        ASSERT_TRUE(queue.runUntil([&] {
            if (!saw("end " + name)) {
                const double at = player->currentTime();
                lowest = std::min(lowest, at);
                const double played = double(gst_clock_get_time(clock) - resumedAt) / GST_SECOND;
                ahead = std::max(ahead, at - standing - played);
            }
            return saw("end " + name);
        }));
        gst_object_unref(clock);
        EXPECT_GE(lowest, standing - 1e-3) << "the position jumped back";
        EXPECT_LE(ahead, 0.15) << "the song went on from where the clock ran to, not from where "
                                  "its data ended: the part held up was skipped";
        EXPECT_EQ(totalFrames(), frames["song"]) << "data were lost";
        player.reset();
    }
    makePlayer("fakesink sync=true");
    player->insert(named("ending", uriOf(dir.path() / "song.wav")));
    ASSERT_TRUE(waitFor("status ending ready"));
    GstPad* sinkPad = sinkPadOf(latestPlaybin);
    ASSERT_NE(sinkPad, nullptr);
    GstPad* feeding = gst_pad_get_peer(sinkPad);
    gst_object_unref(sinkPad);
    ASSERT_NE(feeding, nullptr);
    std::promise<void> endLetGo;
    std::shared_future<void> endHeld = endLetGo.get_future().share();
    const gulong probe = gst_pad_add_probe(
        feeding, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo* info, gpointer held) {
            const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
            if (type == GST_EVENT_STREAM_GROUP_DONE || type == GST_EVENT_EOS)
                static_cast<std::shared_future<void>*>(held)->wait();
            return GST_PAD_PROBE_OK;
        },
        &endHeld, nullptr);
    bool letGo = false;
    const auto letEndGo = [&] {
        if (!std::exchange(letGo, true)) endLetGo.set_value();
    };
    AtScopeEnd unprobe{[&] {
        letEndGo();
        gst_pad_remove_probe(feeding, probe);
        gst_object_unref(feeding);
    }};
    player->play();
    ASSERT_TRUE(waitFor("stalled ending"));
    letEndGo();
    EXPECT_TRUE(waitFor("end ending")) << "the end after the wait was held as a stall";
    EXPECT_EQ(totalFrames(), frames["song"]);
    player.reset();
    // A sink slower than its clock holds the data it has in its render: no stall, whose pause
    // would keep them there for good.
    makePlayer("identity sleep-time=400000 ! fakesink sync=true");
    player->insert(item("slow", 0.1));
    player->play();
    EXPECT_TRUE(waitFor("end slow")) << "the data held in the sink were taken for a stall";
    EXPECT_FALSE(saw("stalled slow"));
    EXPECT_EQ(totalFrames(), frames["slow"]);
}

// A network song's first data are asked for as soon as it is next, before the current song has
// been read to its end, and its hand-over plays from them: the server's late answers to any
// later request hold nothing.
TEST_F(GStreamerQueuePlayerTest, ANetworkSongsFirstDataAreFetchedAsSoonAsItIsNext) {
    HeldServer held{queue, 1};  // a request after the first is answered at the end of the test
    held.server.get("/b.wav", [&, content = songBytes("b", 0.3)](const httplib::Request&,
                                                                 httplib::Response& response) {
        held.hold();
        response.set_content(content, "audio/wav");
    });
    HandOverGate read;  // the current song is not read to its end until the test says so
    AtScopeEnd unhold{[&] {
        read.release();
        askGate = nullptr;
    }};
    askGate = &read;
    makePlayer("fakesink sync=true");
    player->insert(item("a", 0.3));
    player->insert(named("b", held.server.url("/b.wav")));
    player->play();
    ASSERT_TRUE(queue.runUntil([&] { return held.count() > 0; }))
        << "b's data were not asked for before a was read to its end";
    read.release();
    ASSERT_TRUE(waitFor("end b"));
    expectJoined("a", "b");
    EXPECT_EQ(held.count(), 1);
}

// A song no longer next lets its first data go at once: their fetch, on a server that trickles
// them, is cancelled, in whichever way it stopped being next.
TEST_F(GStreamerQueuePlayerTest, ASongNoLongerNextHasItsFetchCancelled) {
    enum class Change { removed, replaced, cleared };
    for (Change change : {Change::removed, Change::replaced, Change::cleared}) {
        SCOPED_TRACE(static_cast<int>(change));
        std::atomic<bool> asked{false};
        std::atomic<bool> dropped{false};
        FakeHttpServer server;
        server.get("/b.wav", [&](const httplib::Request&, httplib::Response& response) {
            asked = true;
            queue.post([] {});
            response.set_chunked_content_provider(
                "audio/wav", [&](size_t, httplib::DataSink& sink) {
                    // A byte now and then, until the client goes away.
                    while (sink.is_writable() && sink.write("R", 1)) {
                        if (!server.pause(std::chrono::milliseconds(20))) return false;
                    }
                    dropped = true;
                    queue.post([] {});
                    return false;
                });
        });
        HandOverGate read;  // a is not read to its end meanwhile
        AtScopeEnd unhold{[&] {
            read.release();
            askGate = nullptr;
        }};
        askGate = &read;
        makePlayer("fakesink sync=true");
        auto a = item("a", 0.3);
        auto b = named("b", server.url("/b.wav"));
        player->insert(a);
        player->insert(b);
        ASSERT_TRUE(queue.runUntil([&] { return asked.load(); }));
        EXPECT_FALSE(dropped.load());
        switch (change) {
            case Change::removed: player->remove(b); break;
            case Change::replaced: player->insert(item("c", 0.2), a); break;
            case Change::cleared: player->removeAllItems(); break;
        }
        EXPECT_TRUE(queue.runUntil([&] { return dropped.load(); }))
            << "the fetch of a song no longer next went on";
        player.reset();
    }
}

// A network song longer than its head fetched ahead plays whole: the rest is asked for from
// where the head ends, as one request, and a seek past what has come asks from there.
TEST_F(GStreamerQueuePlayerTest, ANetworkSongLongerThanItsHeadPlaysWholeAndSeeksPastIt) {
    const std::string body = songBytes("b", 9.0);  // over 1.5 MB
    ASSERT_GT(body.size(), StreamHeads::headBytes + StreamHeads::streamBufferBytes);
    FakeHttpServer server;
    server.get("/b.wav", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "audio/wav");
    });
    for (bool seek : {false, true}) {
        SCOPED_TRACE(seek ? "sought past the head" : "played through");
        makePlayer("fakesink sync=false");
        const std::size_t asked = server.requestCount();
        player->insert(item("a", 0.2));
        player->insert(named("b", server.url("/b.wav")));
        std::optional<bool> sought;
        if (seek) {
            // Paused at b's start, it is sought near its end.
            player->advanceToNextItem();
            ASSERT_TRUE(waitFor("status b ready"));
            player->seek(8.0, [&](bool done) { sought = done; });
        }
        player->play();
        ASSERT_TRUE(waitFor("end b"));
        std::vector<std::string> ranges;
        auto requests = server.requests();
        for (std::size_t i = asked; i < requests.size(); ++i)
            ranges.push_back(requests[i].header("Range").value_or(""));
        const std::string afterHead = "bytes=" + std::to_string(StreamHeads::headBytes) + "-";
        if (!seek) {
            EXPECT_EQ(totalFrames(), frames["a"] + frames["b"]);
            EXPECT_EQ(std::count(ranges.begin(), ranges.end(), afterHead), 1)
                << ::testing::PrintToString(ranges);
        } else {
            EXPECT_EQ(sought, true);
            ASSERT_TRUE(framesFrom(8.0).has_value()) << "b was not heard from where it was sought";
            EXPECT_EQ(*framesFrom(8.0), frames["b"] - 8 * sampleRate);
        }
        player.reset();
    }
}

// A network song is heard as soon as its first data come, opened directly or handed over, not
// once all that is fetched ahead has come: on a slow server that would be seconds. Data heard
// stay good when their transfer breaks: the rest is asked for from where it broke.
TEST_F(GStreamerQueuePlayerTest, ANetworkSongIsHeardWhileItsFirstDataStillArrive) {
    const std::string content = songBytes("b", 1.0);
    constexpr std::size_t sent = 64 << 10;  // then the server holds the rest, or breaks off
    enum class Way { direct, next, broken };
    for (Way way : {Way::direct, Way::next, Way::broken}) {
        SCOPED_TRACE(way == Way::direct ? "a song opened directly"
                     : way == Way::next ? "the next song, handed over"
                                        : "a song whose first answer breaks off");
        HandOverGate rest;  // the rest of the first answer
        std::atomic<int> requests{0};
        FakeHttpServer server;
        AtScopeEnd giveRest{[&] { rest.release(); }};  // before the server stops, which waits
        server.get("/b.wav", [&](const httplib::Request& request, httplib::Response& response) {
            const bool first = requests++ == 0;
            // The range is answered here: the loopback server would not cut one that runs past
            // the end.
            std::size_t from = 0;
            std::size_t to = content.size();
            if (!request.ranges.empty()) {
                const auto [begin, end] = request.ranges.front();
                from = std::size_t(begin);
                if (end >= 0) to = std::min(to, std::size_t(end) + 1);
                response.status = 206;
                response.set_header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                         std::to_string(to - 1) + "/" +
                                                         std::to_string(content.size()));
                const_cast<httplib::Request&>(request).ranges.clear();
            }
            response.set_content_provider(
                to - from, "audio/wav",
                [&, first, from](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::size_t at = from + offset;
                    if (first && at >= sent) {
                        if (way == Way::broken) return false;
                        rest.wait();
                    }
                    const std::size_t piece =
                        first && at < sent ? std::min(length, sent - at) : length;
                    return sink.write(content.data() + at, piece);
                });
        });
        makePlayer("fakesink sync=false");
        if (way == Way::next) player->insert(item("a", 0.2));
        player->insert(named("b", server.url("/b.wav")));
        player->play();
        const std::size_t before = way == Way::next ? frames["a"] : 0;
        EXPECT_TRUE(queue.runUntil([&] { return totalFrames() > before; }))
            << "b was not heard before the rest of its first data came";
        rest.release();
        ASSERT_TRUE(waitFor("end b"));
        EXPECT_EQ(totalFrames(), before + frames["b"]);
        EXPECT_FALSE(saw("status b failed"));
        player.reset();  // its connection would hold up the server's stop
    }
}

// A seek asked while a network song waits for its first data on a late server (the next song
// played into, or a song opened directly) goes out with that song's first request: it is heard
// once that one answer has come, and nothing more is asked of the server.
TEST_F(GStreamerQueuePlayerTest, ASeekWhileASongWaitsForItsFirstDataCostsOneAnswer) {
    const std::string body = songBytes("b", 1.0);
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "a song opened directly" : "the next song, played into");
        HeldServer held{queue};  // every request waits until the test lets one more be answered
        held.server.get("/b.wav", [&](const httplib::Request&, httplib::Response& response) {
            held.hold();
            response.set_content(body, "audio/wav");
        });
        makePlayer("fakesink sync=true");
        if (!direct) player->insert(item("a", 0.2));
        player->insert(named("b", held.server.url("/b.wav")));
        player->play();
        if (direct) {
            ASSERT_TRUE(queue.runUntil([&] { return held.count() > 0; }));
        } else {
            // a has been played out; b waits for its server.
            ASSERT_TRUE(waitFor("current b"));
        }
        ASSERT_FALSE(saw("status b ready"));
        std::optional<bool> sought;
        player->seek(0.5, [&](bool done) { sought = done; });
        queue.runPending();
        held.letThrough(1);
        ASSERT_TRUE(queue.runUntil([&] { return sought.has_value(); }))
            << "the seek waits for a second answer";
        EXPECT_EQ(sought, true);
        ASSERT_TRUE(waitFor("end b"));
        ASSERT_TRUE(framesFrom(0.5).has_value()) << "b was not heard from where it was sought";
        EXPECT_EQ(*framesFrom(0.5), frames["b"] - sampleRate / 2);
        EXPECT_EQ(held.count(), 1) << "the seek asked the late server again";
        player.reset();  // its connection would hold up the server's stop
    }
}

}  // namespace
}  // namespace velto
