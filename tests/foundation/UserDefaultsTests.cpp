#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <future>
#include <stdexcept>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/ManualMainQueue.h"
#include "foundation/files/AtomicFile.h"
#include "foundation/files/FileDescriptor.h"
#include "foundation/files/UserDefaults.h"
#include "support/Eventually.h"
#include "support/TempDir.h"

using namespace velto;

TEST(UserDefaults, ValuesSurviveReopeningAndReadOnlyAsTheirOwnType) {
    TempDir dir;
    auto file = dir.path() / "velto" / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.setBool("macNotchEnabled", false);
        defaults.setInteger("playbackQualityPolicyVersion", 2);
        defaults.setDouble("macPlaybackVolume", 0.35);
        defaults.setString("playbackMode", "shuffle");
        defaults.setData("velto.playback.session", Bytes{0, 1, 2, 255});
        // Read back over the settings the forced write before it left.
        defaults.setData("velto.playback.position", Bytes{7}, Durability::deferred);
    }
    UserDefaults defaults(file);
    EXPECT_EQ(defaults.dataValue("velto.playback.position"), Bytes{7});
    EXPECT_EQ(defaults.boolValue("macNotchEnabled"), false);
    EXPECT_EQ(defaults.integerValue("playbackQualityPolicyVersion"), 2);
    EXPECT_EQ(defaults.doubleValue("macPlaybackVolume"), 0.35);
    EXPECT_EQ(defaults.stringValue("playbackMode"), "shuffle");
    EXPECT_EQ(defaults.dataValue("velto.playback.session"), (Bytes{0, 1, 2, 255}));

    // Wrong stored types read as absent; integers widen to doubles.
    EXPECT_FALSE(defaults.stringValue("macNotchEnabled"));
    EXPECT_FALSE(defaults.integerValue("macPlaybackVolume"));
    EXPECT_FALSE(defaults.boolValue("playbackQualityPolicyVersion"));
    EXPECT_FALSE(defaults.stringValue("velto.playback.session"));
    EXPECT_FALSE(defaults.dataValue("playbackMode"));
    EXPECT_EQ(defaults.doubleValue("playbackQualityPolicyVersion"), 2.0);

    defaults.remove("playbackMode");
    defaults.flush();
    EXPECT_FALSE(UserDefaults(file).contains("playbackMode"));
}

TEST(UserDefaults, CorruptFileIsMovedAsideAndStartsEmpty) {
    // A value nested this deep used to overflow the stack on the first save.
    const std::string deep =
        "{\"anything\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    for (const std::string& content : {std::string("{ not json"), deep}) {
        TempDir dir;
        auto file = dir.path() / "defaults.json";
        std::ofstream(file) << content;
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("anything"));
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "defaults.json.corrupt"));
        defaults.setString("k", "v");
        defaults.flush();
        EXPECT_EQ(UserDefaults(file).stringValue("k"), "v");
    }
}

namespace {

// The settings at `file`, opened within a bound no read comes near, or none: a pipe there held
// the opening, which ends once the pipe was opened for writing and closed.
std::unique_ptr<UserDefaults> openedPromptly(const std::filesystem::path& file) {
    auto opening =
        std::async(std::launch::async, [file] { return std::make_unique<UserDefaults>(file); });
    if (eventually(
            [&] { return opening.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }))
        return opening.get();
    for (auto name : {file.string(), file.string() + ".deferred"})
        FileDescriptor(::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    opening.wait();
    return nullptr;
}

}  // namespace

// What cannot be settings, as settings or as deferred settings, counts as a damaged file: one
// holding the settings is moved aside and they start empty; a deferred one counts for nothing,
// as one a power cut emptied. None holds the start or fills the memory, and the next writes
// replace it. Settings take a few kilobytes: a file past 4 MiB is something else, however well
// it reads.
TEST(UserDefaults, FilesOfOtherKindsOrSizesAreDamagedFiles) {
    using Lay = std::function<void(const std::filesystem::path&)>;
    const std::pair<std::string, Lay> kinds[] = {
        {"a pipe",
         [](const auto& at) {
             std::filesystem::remove(at);
             ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0);
         }},
        // Made beside it: a write through a link must never reach anything outside the test's
        // own folder, whatever breaks.
        {"a link to a socket",
         [](const std::filesystem::path& at) {
             std::filesystem::remove(at);
             const auto socketPath = at.parent_path() / (at.filename().string() + ".socket");
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
             std::strcpy(address.sun_path, socketPath.c_str());
             FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
             ASSERT_TRUE(socket);
             ASSERT_EQ(::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
                       0);
             std::filesystem::create_symlink(socketPath.filename(), at);
         }},
        {"its own text grown to 5 MiB",
         [](const auto& at) { std::ofstream(at, std::ios::app) << std::string(5 << 20, ' '); }},
    };
    for (const auto& [kind, lay] : kinds) {
        for (const bool deferred : {false, true}) {
            TempDir dir;
            const auto file = dir.path() / "defaults.json";
            const std::string what = kind + (deferred ? " as deferred settings" : " as settings");
            {
                UserDefaults laid(file);
                laid.setString("volume", "0.35");
                laid.setData("position", Bytes{3}, Durability::deferred);
            }
            lay(deferred ? std::filesystem::path(file.string() + ".deferred") : file);
            auto defaults = openedPromptly(file);
            ASSERT_TRUE(defaults) << what << " held the start";
            EXPECT_EQ(defaults->stringValue("volume"),
                      deferred ? std::optional<std::string>("0.35") : std::nullopt)
                << what;
            EXPECT_FALSE(defaults->contains("position")) << what;
            EXPECT_EQ(std::filesystem::exists(
                          std::filesystem::symlink_status(dir.path() / "defaults.json.corrupt")),
                      !deferred)
                << what;
            defaults->setString("mode", "shuffle");
            defaults->setData("session", Bytes{1}, Durability::deferred);
            defaults.reset();
            UserDefaults reopened(file);
            EXPECT_EQ(reopened.stringValue("mode"), "shuffle") << what;
            EXPECT_EQ(reopened.dataValue("session"), Bytes{1}) << what;
            for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
                if (entry.path().extension() == ".socket") {
                    EXPECT_TRUE(entry.is_socket()) << what << ": written through its link";
                }
            }
        }
    }
}

// A write killed before its rename leaves its temporary file; the next start removes those of
// its own files, and nothing else.
TEST(UserDefaults, WritesLeftUnfinishedAreRemovedAtStart) {
    TempDir dir;
    const auto file = dir.path() / "defaults.json";
    const std::vector<std::string> left = {"defaults.json.tmp-a1B2c3",
                                           "defaults.json.deferred.tmp-Zz9_x0"};
    const std::vector<std::string> kept = {"defaults.json.tmp-notes.txt", "other.json.tmp-a1B2c3",
                                           "defaults.json.tmp-"};
    for (const auto& names : {left, kept})
        for (const auto& name : names) std::ofstream(dir.path() / name) << "{\"torn";
    UserDefaults defaults(file);
    for (const auto& name : left) EXPECT_FALSE(std::filesystem::exists(dir.path() / name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(dir.path() / name)) << name;
}

// A change returns at once; the settings go to the disk on a thread of their own, in the order
// of the changes, those made while a write is under way carried by the next write, forced as
// before. Their end waits for the last write.
TEST(UserDefaults, WritesGoInOrderOnAThreadOfTheirOwnAndTheLastWins) {
    TempDir dir;
    const auto file = dir.path() / "defaults.json";
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    const auto changer = std::this_thread::get_id();
    std::atomic<bool> entered = false, heldTheChanger = false;
    std::mutex mutex;
    std::vector<std::string> written;
    auto defaults = std::make_unique<UserDefaults>(
        file, [&](const std::filesystem::path& at, std::string_view text, Durability durability) {
            heldTheChanger = heldTheChanger || std::this_thread::get_id() == changer;
            entered = true;
            // A disk slow to answer, for as long as no passing run comes near.
            opened.wait_for(std::chrono::seconds(5));
            {
                std::lock_guard lock(mutex);
                written.push_back(at.filename().string() +
                                  (durability == Durability::forced ? " forced " : " ") +
                                  std::string(text));
            }
            writeFileAtomically(at, text, 0600, durability);
        });
    defaults->setString("volume", "0.1");
    ASSERT_TRUE(eventually([&] { return entered.load(); }));
    defaults->setString("volume", "0.2");
    defaults->setData("session", Bytes{1}, Durability::deferred);
    defaults->setString("volume", "0.3");
    defaults->setData("session", Bytes{2}, Durability::deferred);
    EXPECT_FALSE(heldTheChanger);
    open.set_value();
    defaults.reset();

    std::lock_guard lock(mutex);
    ASSERT_EQ(written.size(), 3u);
    EXPECT_TRUE(written[0].starts_with("defaults.json forced ")) << written[0];
    EXPECT_NE(written[0].find("0.1"), std::string::npos) << written[0];
    EXPECT_TRUE(written[1].starts_with("defaults.json forced ")) << written[1];
    EXPECT_NE(written[1].find("0.3"), std::string::npos) << written[1];
    EXPECT_TRUE(written[2].starts_with("defaults.json.deferred ")) << written[2];
    UserDefaults reopened(file);
    EXPECT_EQ(reopened.stringValue("volume"), "0.3");
    EXPECT_EQ(reopened.dataValue("session"), Bytes{2});
}

// A deferred file names the settings file it completes: while a forced write failed, the next
// change, deferred or not, writes the settings whole again.
TEST(UserDefaults, AForcedWriteThatFailedIsMadeAgainByTheNextChange) {
    TempDir dir;
    const auto file = dir.path() / "defaults.json";
    bool diskFull = true;
    UserDefaults defaults(file, [&](const std::filesystem::path& at, std::string_view text,
                                    Durability durability) {
        if (diskFull) throw std::runtime_error("no space left on device");
        writeFileAtomically(at, text, 0600, durability);
    });
    defaults.setString("volume", "0.3");
    defaults.flush();
    diskFull = false;
    defaults.setData("session", Bytes{5}, Durability::deferred);
    defaults.flush();
    UserDefaults reopened(file);
    EXPECT_EQ(reopened.stringValue("volume"), "0.3");
    EXPECT_EQ(reopened.dataValue("session"), Bytes{5});
}

// Nothing else may change for long (a tray player left alone): a forced write that failed is
// made again after a while on the main queue, again twice as late while it fails, and at the
// end of the settings however soon that comes.
TEST(UserDefaults, AForcedWriteThatFailedIsMadeAgainLaterAndAtTheEnd) {
    using std::chrono::milliseconds;
    for (const bool ending : {false, true}) {
        TempDir dir;
        ManualMainQueue queue;
        const auto file = dir.path() / "defaults.json";
        // Ending, the first failure is the last; else two.
        std::atomic<int> failures = ending ? 1 : 2, tries = 0;
        auto defaults = std::make_unique<UserDefaults>(
            file,
            [&](const std::filesystem::path& at, std::string_view text, Durability durability) {
                ++tries;
                if (failures-- > 0) throw std::runtime_error("no space left on device");
                writeFileAtomically(at, text, 0600, durability);
            },
            &queue);
        defaults->setString("volume", "0.3");
        defaults->flush();
        ASSERT_EQ(tries, 1);
        if (ending) {
            defaults.reset();
            EXPECT_EQ(tries, 2);
            EXPECT_EQ(UserDefaults(file).stringValue("volume"), "0.3");
            EXPECT_EQ(queue.pendingTimerCount(), 0u);
            continue;
        }
        for (const auto wait : {UserDefaults::retryDelay, 2 * UserDefaults::retryDelay}) {
            const int before = tries;
            queue.advance(wait - milliseconds(1));
            defaults->flush();
            EXPECT_EQ(tries, before) << "made again early";
            queue.advance(milliseconds(1));
            defaults->flush();
            EXPECT_EQ(tries, before + 1);
        }
        EXPECT_EQ(UserDefaults(file).stringValue("volume"), "0.3");
        queue.advance(UserDefaults::longestRetryDelay);
        defaults.reset();
        EXPECT_EQ(tries, 3) << "written again once written";
    }
}

// A forced write carries every value: one that failed is never made again over a later one,
// whether the later one waited behind it or came after it, neither by its retry nor at the end.
TEST(UserDefaults, AFailedWriteMadeAgainNeverOverwritesALaterOne) {
    for (const bool laterWaited : {true, false}) {
        TempDir dir;
        ManualMainQueue queue;
        const auto file = dir.path() / "defaults.json";
        std::promise<void> fail;
        std::shared_future<void> failing = fail.get_future().share();
        std::atomic<bool> entered = false;
        std::atomic<int> tries = 0;
        auto defaults = std::make_unique<UserDefaults>(
            file,
            [&](const std::filesystem::path& at, std::string_view text, Durability durability) {
                if (tries++ == 0) {
                    entered = true;
                    // A disk slow to refuse, for as long as no passing run comes near.
                    failing.wait_for(std::chrono::seconds(5));
                    throw std::runtime_error("no space left on device");
                }
                writeFileAtomically(at, text, 0600, durability);
            },
            &queue);
        const std::string what = laterWaited ? "waited behind it" : "came after it";
        defaults->setString("volume", "0.1");
        if (laterWaited) {
            ASSERT_TRUE(eventually([&] { return entered.load(); }));
            defaults->setString("volume", "0.2");
            fail.set_value();
        } else {
            fail.set_value();
            defaults->flush();
            defaults->setString("volume", "0.2");
        }
        defaults->flush();
        EXPECT_EQ(UserDefaults(file).stringValue("volume"), "0.2") << what;
        queue.advance(UserDefaults::longestRetryDelay);
        defaults->flush();
        EXPECT_EQ(UserDefaults(file).stringValue("volume"), "0.2") << what << ", then its retry";
        defaults.reset();
        EXPECT_EQ(UserDefaults(file).stringValue("volume"), "0.2") << what << ", then the end";
        EXPECT_EQ(tries, 2) << what;
    }
}

// With no thread to be had, a change is written where it is made: none is lost, none throws.
TEST(UserDefaults, WithNoThreadAChangeIsWrittenWhereItIsMade) {
    TempDir dir;
    const auto file = dir.path() / "defaults.json";
    std::atomic<int> refused = 0;
    {
        UserDefaults defaults(file, {}, nullptr, [&](std::function<void()>) -> std::thread {
            ++refused;
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        });
        EXPECT_NO_THROW(defaults.setString("volume", "0.3"));
        EXPECT_EQ(UserDefaults(file).stringValue("volume"), "0.3");
        EXPECT_NO_THROW(defaults.setData("position", Bytes{4}, Durability::deferred));
        EXPECT_NO_THROW(defaults.flush());
    }
    EXPECT_GT(refused, 0);
    UserDefaults reopened(file);
    EXPECT_EQ(reopened.stringValue("volume"), "0.3");
    EXPECT_EQ(reopened.dataValue("position"), Bytes{4});
}

// Settings kept with other dotfiles and linked into place: the writes replace the file the
// links lead to, each read from its own folder, beside it; the links stay, and writes a kill
// left unfinished there are removed. A link to what is no file (here a pipe) is replaced
// itself, what it led to left alone.
TEST(UserDefaults, ALinkedSettingsFileStaysLinkedAndItsTargetTakesTheWrites) {
    namespace fs = std::filesystem;
    TempDir dir;
    const auto dotfiles = dir.path() / "dotfiles" / "velto";
    const auto config = dir.path() / "config" / "velto";
    fs::create_directories(dotfiles);
    fs::create_directories(config);
    std::ofstream(dotfiles / "settings.json") << R"({"volume": "0.1"})";
    std::ofstream(dotfiles / "settings.json.tmp-a1B2c3") << "{\"torn";
    fs::create_symlink("../../dotfiles/velto/settings.json", config / "linked.json");
    fs::create_symlink("linked.json", config / "defaults.json");
    ASSERT_EQ(::mkfifo((dotfiles / "pipe").c_str(), 0600), 0);
    fs::create_symlink(dotfiles / "pipe", config / "defaults.json.deferred");
    {
        UserDefaults defaults(config / "defaults.json");
        EXPECT_EQ(defaults.stringValue("volume"), "0.1");
        EXPECT_FALSE(fs::exists(dotfiles / "settings.json.tmp-a1B2c3"));
        defaults.setString("volume", "0.3");
        defaults.setData("position", Bytes{6}, Durability::deferred);
    }
    EXPECT_TRUE(fs::is_symlink(config / "defaults.json"));
    EXPECT_TRUE(fs::is_symlink(config / "linked.json"));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dotfiles / "pipe")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(config / "defaults.json.deferred")));
    EXPECT_EQ(UserDefaults(dotfiles / "settings.json").stringValue("volume"), "0.3");
    EXPECT_EQ(UserDefaults(config / "defaults.json").dataValue("position"), Bytes{6});
    std::set<std::string> left;
    for (const auto& folder : {dotfiles, config})
        for (const auto& entry : fs::directory_iterator(folder))
            left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"settings.json", "pipe", "linked.json", "defaults.json",
                                           "defaults.json.deferred"}));
}

// Settings linked from managed dotfiles that the program may not write (a folder not the
// user's, a read-only file system): the link gives way to a file of the settings' own, the file
// it led to is left as it was, and no change is lost at the next start. A linked file that can
// be written keeps its own permission bits.
TEST(UserDefaults, ALinkedFileThatCannotBeWrittenGivesWayToAFileOfTheirOwn) {
    namespace fs = std::filesystem;
    const std::string managedText = R"({"mode": "shuffle", "volume": "0.1"})";
    struct Laid {
        fs::path managed, link;
    };
    auto lay = [&](const TempDir& dir) {
        const Laid laid{dir.path() / "dotfiles" / "settings.json",
                        dir.path() / "config" / "defaults.json"};
        fs::create_directories(laid.managed.parent_path());
        fs::create_directories(laid.link.parent_path());
        std::ofstream(laid.managed) << managedText;
        fs::permissions(laid.managed, fs::perms(0644));
        fs::create_symlink(laid.managed, laid.link);
        return laid;
    };
    {
        TempDir dir;
        const auto laid = lay(dir);
        UserDefaults(laid.link).setString("notch", "on");
        EXPECT_TRUE(fs::is_symlink(laid.link));
        EXPECT_EQ(fs::status(laid.managed).permissions(), fs::perms(0644));
        EXPECT_EQ(UserDefaults(laid.managed).stringValue("notch"), "on");
    }

    // Refused as the system refuses: as root, which may write any folder, a folder's mode
    // refuses nothing.
    auto refusing = [](const fs::path& folder, int code) -> UserDefaults::Writer {
        return [folder, code](const fs::path& at, std::string_view text, Durability durability) {
            if (at.parent_path() == folder)
                throw std::system_error(code, std::generic_category(), "cannot create");
            writeFileAtomically(at, text, 0600, durability, false);
        };
    };
    const std::pair<std::string, int> refusals[] = {
        {"a read-only file system", EROFS},
        {"a folder not the user's", EACCES},
        {"a folder of mode 0555", 0},
    };
    for (const auto& [where, code] : refusals) {
        if (!code && ::geteuid() == 0) continue;
        TempDir dir;
        const auto laid = lay(dir);
        const auto folder = laid.managed.parent_path();
        if (!code) fs::permissions(folder, fs::perms(0555));
        {
            UserDefaults defaults(laid.link, code ? refusing(folder, code) : UserDefaults::Writer{});
            defaults.setString("volume", "0.35");
            defaults.setData("position", Bytes{8}, Durability::deferred);
        }
        if (!code) fs::permissions(folder, fs::perms(0755));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(laid.link))) << where;
        std::ifstream managed(laid.managed);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(managed), {}), managedText) << where;
        UserDefaults reopened(laid.link);
        EXPECT_EQ(reopened.stringValue("volume"), "0.35") << where;
        EXPECT_EQ(reopened.stringValue("mode"), "shuffle") << where;
        EXPECT_EQ(reopened.dataValue("position"), Bytes{8}) << where;
    }
}

TEST(UserDefaults, InvalidUtf8TextDoesNotLoseTheOtherSettings) {
    TempDir dir;
    auto file = dir.path() / "defaults.json";
    {
        UserDefaults defaults(file);
        defaults.setString("a", "ok");
        defaults.setString("b", std::string("bad\xff", 4));
    }
    EXPECT_EQ(UserDefaults(file).stringValue("a"), "ok");
}

namespace {

// The settings a reader must find, and the song and position along it that were last set.
struct Settled {
    std::map<std::string, std::string> settings;
    std::string song;
    int position = 0;
};

// What a power cut may leave of each file written through it: a write is followed step by step
// (written beside, renamed, the folder synced) and at each step every file may hold any text the
// cut can leave it with; a write not forced may leave it empty, or its rename lost. At each step
// every such disk is laid out for real and read back as the next start would.
class PowerCuts {
  public:
    explicit PowerCuts(std::filesystem::path file) : file_(std::move(file)) {}

    UserDefaults::Writer writer() {
        return [this](const std::filesystem::path& file, std::string_view text,
                      Durability durability) {
            // A file never written is absent.
            auto& texts =
                disk_.try_emplace(file.filename().string(), std::set{std::optional<std::string>()})
                    .first->second;
            const std::string written(text);
            cutAt("written beside, not renamed");
            std::set<std::optional<std::string>> renamed = texts;
            renamed.insert(written);
            if (durability == Durability::deferred) renamed.insert(std::string());
            texts = renamed;
            cutAt("renamed, folder not synced");
            if (durability == Durability::forced) texts = {written};
            cutAt("done");
        };
    }

    // The change about to be made: readers may find the settings as before it or after it.
    void expect(Settled before, Settled after) {
        before_ = std::move(before);
        after_ = std::move(after);
    }

    int disksRead() const { return disksRead_; }

  private:
    void cutAt(const std::string& step) {
        std::vector<std::pair<std::string, std::vector<std::optional<std::string>>>> files;
        for (const auto& [name, texts] : disk_)
            files.emplace_back(name, std::vector(texts.begin(), texts.end()));
        std::vector<std::size_t> pick(files.size(), 0);
        for (;;) {
            TempDir dir;
            std::string laidOut;
            for (std::size_t i = 0; i < files.size(); ++i) {
                const auto& text = files[i].second[pick[i]];
                laidOut += files[i].first + (text ? " holding " + std::to_string(text->size()) +
                                                        " bytes; "
                                                  : " absent; ");
                if (text) std::ofstream(dir.path() / files[i].first, std::ios::binary) << *text;
            }
            check(UserDefaults(dir.path() / file_.filename()), step + ": " + laidOut);
            ++disksRead_;
            std::size_t i = 0;
            while (i < pick.size() && ++pick[i] == files[i].second.size()) pick[i++] = 0;
            if (i == pick.size()) return;
        }
    }

    void check(const UserDefaults& read, const std::string& where) {
        std::map<std::string, std::string> settings;
        for (const auto* key : {"volume", "mode", "notch"})
            if (auto value = read.stringValue(key)) settings[key] = *value;
        EXPECT_TRUE(settings == before_.settings || settings == after_.settings) << where;
        const auto data = read.dataValue("session");
        if (!data && before_.song.empty()) return;  // nothing played yet
        ASSERT_TRUE(data) << where;
        const std::string session(data->begin(), data->end());
        const auto at = session.find('@');
        ASSERT_NE(at, std::string::npos) << where;
        const std::string song = session.substr(0, at);
        const int position = std::stoi(session.substr(at + 1));
        EXPECT_TRUE(song == before_.song || song == after_.song) << where << " found " << session;
        const int latest = song == after_.song ? after_.position : before_.position;
        EXPECT_LE(position, latest) << where;
    }

    std::filesystem::path file_;
    std::map<std::string, std::set<std::optional<std::string>>> disk_;
    Settled before_, after_;
    int disksRead_ = 0;
};

}  // namespace

// A power cut at any step of any write leaves every setting whole; at most the position along
// the current song comes back older.
TEST(UserDefaults, APowerCutAtAnyStepLeavesTheSettingsWhole) {
    TempDir dir;
    const auto file = dir.path() / "defaults.json";
    PowerCuts cuts(file);
    UserDefaults defaults(file, cuts.writer());
    Settled now;
    auto change = [&](auto make, auto apply) {
        Settled next = now;
        make(next);
        cuts.expect(now, next);
        apply();
        defaults.flush();
        now = next;
    };
    auto set = [&](const std::string& key, const std::string& value) {
        change([&](Settled& s) { s.settings[key] = value; },
               [&] { defaults.setString(key, value); });
    };
    auto play = [&](const std::string& song, int position, Durability durability) {
        change(
            [&](Settled& s) {
                s.song = song;
                s.position = position;
            },
            [&] {
                const std::string text = song + "@" + std::to_string(position);
                defaults.setData("session", Bytes(text.begin(), text.end()), durability);
            });
    };
    using enum Durability;
    set("volume", "0.35");
    set("mode", "shuffle");
    play("s1", 0, forced);
    play("s1", 5, deferred);
    play("s1", 10, deferred);
    set("notch", "off");
    play("s1", 15, deferred);
    play("s2", 0, forced);
    play("s2", 5, deferred);
    change([](Settled& s) { s.settings.erase("mode"); }, [&] { defaults.remove("mode"); });
    play("s2", 10, deferred);
    set("volume", "0.5");
    play("s2", 15, deferred);
    EXPECT_GT(cuts.disksRead(), 100);
}
