#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "foundation/Cancellation.h"
#include "playback/LocalAudioScanner.h"
#include "support/Mp3File.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

using namespace velto;
namespace fs = std::filesystem;

namespace {

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool haveSox() {
    return std::system("command -v sox >/dev/null 2>&1") == 0;
}

// Silence of `seconds` encoded by sox; extra arguments go before the output (e.g. comments).
void soxFile(const fs::path& path, double seconds, const std::string& options = "") {
    const auto command = "sox -n -r 8000 -c 1 " + options + " '" + path.string() + "' trim 0 " +
                         std::to_string(seconds) + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string relative(const Track& track, const fs::path& root) {
    return fs::path(track.songmid).lexically_relative(root).string();
}

std::multiset<std::string> relativePaths(const std::vector<Track>& tracks, const fs::path& root) {
    std::multiset<std::string> result;
    for (const auto& track : tracks) result.insert(relative(track, root));
    return result;
}

// Runs `scan` with the rights of an ordinary user: permission bits mean nothing to root, so
// root forks a child that drops to "nobody" and sends the found paths back, one per line.
std::multiset<std::string> scanAsUser(const std::vector<fs::path>& paths, const fs::path& root) {
    if (geteuid() != 0) return relativePaths(LocalAudioScanner::scan(paths), root);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("pipe");
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        std::string out;
        for (const auto& path : relativePaths(LocalAudioScanner::scan(paths), root))
            out += path + "\n";
        if (write(pipeEnds[1], out.data(), out.size()) != static_cast<ssize_t>(out.size()))
            _exit(4);
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("child failed");
    std::multiset<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = received.find('\n', start)) != std::string::npos; start = end + 1)
        result.insert(received.substr(start, end - start));
    return result;
}

}  // namespace

TEST(LocalAudioScanner, AudioFilesAreKnownByExtensionInAnyCase) {
    for (const char* name : {"Track.MP3", "a.Flac", "x.m4a", "x.WAV", "x.aac", "x.aiff", "x.AIF",
                             "x.alac", "x.ogg", ".hidden.mp3", "/dir.x/y.mp3"})
        EXPECT_TRUE(LocalAudioScanner::isAudioFile(name)) << name;
    for (const char* name : {"a.mp4", "a.wma", "noextension", "mp3", "a.", "a.mp3.txt", "a.opus",
                             "/dir.mp3/y", ".mp3"})
        EXPECT_FALSE(LocalAudioScanner::isAudioFile(name)) << name;
    EXPECT_EQ(LocalAudioScanner::supportedExtensions().size(), 9u);
}

TEST(LocalAudioScanner, DurationsBecomeMinutesAndTwoDigitSeconds) {
    struct Case {
        double seconds;
        std::optional<std::string> text;
    };
    for (const auto& c : std::vector<Case>{{0.4, std::nullopt},
                                           {0.999, std::nullopt},
                                           {-5, std::nullopt},
                                           {NAN, std::nullopt},
                                           {INFINITY, std::nullopt},
                                           {1, "0:01"},
                                           {59.9, "0:59"},
                                           {61, "1:01"},
                                           {3725, "62:05"},
                                           {3900, "65:00"}})
        EXPECT_EQ(LocalAudioScanner::intervalText(c.seconds), c.text) << c.seconds;
}

TEST(LocalAudioScanner, FileWithoutTagsFallsBackToItsNamesAndCarriesItsPayload) {
    TempDir dir;
    fs::create_directory(dir.path() / "Album X");
    const auto file = dir.path() / "Album X" / "01 Intro.wav";
    writeWav(file, 61);

    auto song = LocalAudioScanner::track(file);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->source, MusicSource::local);
    EXPECT_EQ(song->songmid, file.string());
    EXPECT_EQ(song->title, "01 Intro");
    EXPECT_EQ(song->artist, "本地音乐");
    EXPECT_EQ(song->album, "Album X");
    EXPECT_EQ(song->interval, "1:01");

    std::string escaped;
    for (char c : file.string()) escaped += c == '/' ? std::string("\\/") : std::string(1, c);
    EXPECT_EQ(song->payload, "{\"filePath\":\"" + escaped +
                                 "\",\"fileSize\":" + std::to_string(fs::file_size(file)) +
                                 ",\"filename\":\"01 Intro.wav\"}");

    EXPECT_FALSE(LocalAudioScanner::track(dir.path() / "missing.wav"));
}

TEST(LocalAudioScanner, RealDurationsFollowTheRule) {
    TempDir dir;
    writeWav(dir.path() / "short.wav", 0.4);
    writeWav(dir.path() / "almost.wav", 59.9);
    writeWav(dir.path() / "long.wav", 3725, 10);
    EXPECT_EQ(LocalAudioScanner::track(dir.path() / "short.wav")->interval, std::nullopt);
    EXPECT_EQ(LocalAudioScanner::track(dir.path() / "almost.wav")->interval, "0:59");
    EXPECT_EQ(LocalAudioScanner::track(dir.path() / "long.wav")->interval, "62:05");
}

// Without a VBR header the first frame's bitrate says nothing of the rest: a loud start read
// as the whole file's rate makes a 30 s song 5 s long, a quiet one makes it 50 s.
TEST(LocalAudioScanner, MP3WithoutAVBRHeaderIsAsLongAsItsFrames) {
    TempDir dir;
    auto frames = [](int first, int firstRate, int rest, int restRate) {
        std::vector<int> kbps(std::size_t(first), firstRate);
        kbps.insert(kbps.end(), std::size_t(rest), restRate);
        return kbps;
    };
    struct Case {
        const char* name;
        std::vector<int> kbps;
        std::optional<std::string> interval;
    };
    for (const auto& c : std::vector<Case>{{"loud start.mp3", frames(86, 320, 1063, 32), "0:30"},
                                           {"quiet start.mp3", frames(1063, 32, 86, 320), "0:30"},
                                           {"steady.mp3", frames(1149, 128, 0, 0), "0:30"}}) {
        const double seconds = writeMp3Frames(dir.path() / c.name, c.kbps);
        ASSERT_EQ(LocalAudioScanner::intervalText(seconds), c.interval);
        auto song = LocalAudioScanner::track(dir.path() / c.name);
        ASSERT_TRUE(song) << c.name;
        EXPECT_EQ(song->interval, c.interval) << c.name;
    }

    // Bytes that are no frame between frames are stepped over, not taken for the end.
    const auto loud = dir.path() / "loud start.mp3";
    std::string bytes;
    {
        std::ifstream in(loud, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto junk = dir.path() / "junk.mp3";
    writeText(junk, bytes.substr(0, bytes.size() / 2) + std::string(3000, '\x55') +
                        bytes.substr(bytes.size() / 2));
    EXPECT_EQ(LocalAudioScanner::track(junk)->interval, "0:30");

    // Longer than the part counted: the rest is taken at the rate of what was counted, which
    // here alternates as evenly through the file as in its first part.
    std::vector<int> alternating;
    for (int i = 0; i < 60000; ++i) alternating.push_back(i % 3 == 0 ? 320 : 48);
    const double seconds = writeMp3Frames(dir.path() / "long.mp3", alternating);
    auto song = LocalAudioScanner::track(dir.path() / "long.mp3");
    ASSERT_TRUE(song);
    EXPECT_EQ(song->interval, LocalAudioScanner::intervalText(seconds));
}

TEST(LocalAudioScanner, BrokenFileBecomesASongWithFallbacks) {
    TempDir dir;
    const auto file = dir.path() / "broken.mp3";
    writeText(file, std::string(5000, '\x7f') + "not audio at all");
    auto song = LocalAudioScanner::track(file);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->title, "broken");
    EXPECT_EQ(song->artist, "本地音乐");
    EXPECT_EQ(song->interval, std::nullopt);

    writeText(dir.path() / "empty.flac", "");
    auto empty = LocalAudioScanner::track(dir.path() / "empty.flac");
    ASSERT_TRUE(empty);
    EXPECT_NE(empty->payload.find("\"fileSize\":0"), std::string::npos);
}

TEST(LocalAudioScanner, EncodedFormatsGiveTagsAndDuration) {
    if (!haveSox()) GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    const auto tagged = dir.path() / "tagged.flac";
    soxFile(
        tagged, 3.5,
        "--comment 'TITLE= First Title ' --add-comment 'TITLE=Second Title' "
        "--add-comment 'ARTIST=Singer' --add-comment 'ARTIST=   ' --add-comment 'ALBUM=Record'");
    auto song = LocalAudioScanner::track(tagged);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->title, "Second Title");
    EXPECT_EQ(song->artist, "Singer");
    EXPECT_EQ(song->album, "Record");
    EXPECT_EQ(song->interval, "0:03");

    const auto blank = dir.path() / "01 Intro.flac";
    soxFile(blank, 2, "--comment 'TITLE=   '");
    EXPECT_EQ(LocalAudioScanner::track(blank)->title, "01 Intro");

    for (const char* name : {"tone.ogg", "tone.aif", "tone.aiff"}) {
        soxFile(dir.path() / name, 62);
        auto encoded = LocalAudioScanner::track(dir.path() / name);
        ASSERT_TRUE(encoded) << name;
        EXPECT_EQ(encoded->interval, "1:02") << name;
    }

    // TagLib overlooks a last Ogg page that begins 1 KiB * n - 1 bytes before the end and reads
    // the length a page short; the encoder's random stream number lands it there now and then.
    const auto ogg = dir.path() / "tone.ogg";
    std::string bytes;
    {
        std::ifstream in(ogg, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t fromEnd = bytes.size() - bytes.rfind("OggS");
    const std::size_t target = (fromEnd / 1024 + 1) * 1024 + 1023;
    writeText(ogg, bytes + std::string(target - fromEnd, '\0'));
    EXPECT_EQ(LocalAudioScanner::track(ogg)->interval, "1:02");
}

// An unfinished download is a file of zeros; it becomes a song with the fallbacks without being
// read from end to end.
TEST(LocalAudioScanner, LargeFilesOfZerosAreReadOnlySoFar) {
    TempDir dir;
    for (const char* name : {"zeros.mp3", "zeros.flac", "zeros.ogg", "zeros.m4a"}) {
        fs::resize_file((writeText(dir.path() / name, ""), dir.path() / name), 8ull << 30);
        auto song = LocalAudioScanner::track(dir.path() / name);
        ASSERT_TRUE(song) << name;
        EXPECT_EQ(song->title, "zeros") << name;
        EXPECT_EQ(song->interval, std::nullopt) << name;
    }
}

TEST(LocalAudioScanner, FoldersAreWalkedDeeplySkippingHiddenAndUnreadableEntries) {
    TempDir dir;
    const auto root = dir.path();
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(root / "Album X" / "deep" / "er");
    fs::create_directories(root / ".hiddendir");
    fs::create_directories(root / "folder.mp3");
    fs::create_directories(root / "locked");
    writeWav(root / "Album X" / "01 Intro.wav", 2);
    writeWav(root / "Album X" / ".hidden.wav", 2);
    writeWav(root / "Album X" / "deep" / "er" / "Track.WAV", 2);
    writeText(root / "Album X" / "notes.txt", "x");
    writeWav(root / "Album X" / "clip.mp4", 2);
    writeWav(root / ".hiddendir" / "inside.wav", 2);
    writeWav(root / "folder.mp3" / "inner.wav", 2);
    writeWav(root / "locked" / "secret.wav", 2);
    writeWav(root / "unreadable.wav", 2);
    writeText(root / "broken.mp3", "garbage");
    fs::create_directory_symlink(root, root / "Album X" / "loop");
    fs::create_directory_symlink("..", root / "Album X" / "deep" / "up");
    fs::create_symlink("self.wav", root / "self.wav");
    fs::create_symlink("b.wav", root / "a.wav");
    fs::create_symlink("a.wav", root / "b.wav");
    fs::create_symlink("nothing-here.wav", root / "dangling.wav");
    fs::create_symlink(root / "Album X" / "01 Intro.wav", root / "link.wav");
    fs::permissions(root / "locked", fs::perms::none);
    fs::permissions(root / "unreadable.wav", fs::perms::none);

    const std::multiset<std::string> expected{"Album X/01 Intro.wav", "Album X/deep/er/Track.WAV",
                                              "folder.mp3/inner.wav", "broken.mp3", "link.wav"};
    EXPECT_EQ(scanAsUser({root}, root), expected);
    // Chosen directly, a hidden file is taken like any other.
    EXPECT_EQ(
        scanAsUser({root / "Album X" / ".hidden.wav", root / "self.wav", root / "locked"}, root),
        std::multiset<std::string>{"Album X/.hidden.wav"});
    fs::permissions(root / "locked", fs::perms::owner_all);
}

// Whatever order the file system keeps its entries in, a folder comes in as a person sees it
// listed: names in order, numbers as numbers, folders among the files by the same rule.
TEST(LocalAudioScanner, FolderEntriesComeInNameOrderWithNumbersAsNumbers) {
    TempDir dir;
    const auto root = dir.path() / "Album";
    fs::create_directories(root / "disc 10");
    fs::create_directories(root / "disc 9");
    std::vector<std::string> names;
    for (int i = 60; i >= 1; i -= 7) names.push_back("track" + std::to_string(i) + ".mp3");
    for (const auto& name :
         {"Track3.wav", "track03.wav", "track3.mp3", "track03.mp3", "track3-1.mp3", "x.mp3",
          "disc 10/a.mp3", "disc 9/b.mp3", "disc 9/a.mp3", "track0.mp3"})
        names.push_back(name);
    for (const auto& name : names) writeText(root / name, "");

    // The names without their extensions come first; the extension decides between equal ones.
    std::vector<std::string> found;
    for (const auto& song : LocalAudioScanner::scan({root})) found.push_back(relative(song, root));
    const std::vector<std::string> expected{
        "disc 9/a.mp3", "disc 9/b.mp3", "disc 10/a.mp3", "track0.mp3",   "Track3.wav",
        "track3.mp3",   "track03.mp3",  "track03.wav",   "track3-1.mp3", "track4.mp3",
        "track11.mp3",  "track18.mp3",  "track25.mp3",   "track32.mp3",  "track39.mp3",
        "track46.mp3",  "track53.mp3",  "track60.mp3",   "x.mp3"};
    EXPECT_EQ(found, expected);
}

TEST(LocalAudioScanner, ChoicesAreNeitherSortedNorDeduplicated) {
    TempDir dir;
    fs::create_directory(dir.path() / "Music");
    const auto file = dir.path() / "Music" / "x.wav";
    writeWav(file, 1.5);
    writeText(dir.path() / "Music" / "readme.txt", "x");
    fs::create_directory(dir.path() / "Empty");

    auto songs = LocalAudioScanner::scan(
        {file, dir.path() / "Music", dir.path() / "missing", dir.path() / "Empty", file});
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(songs[0], songs[1]);
    EXPECT_EQ(songs[1], songs[2]);
    EXPECT_EQ(songs[0].musicID(), "local_" + file.string());

    EXPECT_TRUE(LocalAudioScanner::scan({}).empty());
    EXPECT_TRUE(LocalAudioScanner::scan({dir.path() / "Empty"}).empty());
}

TEST(LocalAudioScanner, StopsWhenCancelled) {
    TempDir dir;
    writeWav(dir.path() / "x.wav", 1);
    std::stop_source source;
    source.request_stop();
    EXPECT_THROW(LocalAudioScanner::scan({dir.path()}, source.get_token()), CancellationError);
    EXPECT_THROW(LocalAudioScanner::track(dir.path() / "x.wav", source.get_token()),
                 CancellationError);
}

TEST(LocalAudioScanner, PathsThatAreNotUtf8AreSkipped) {
    TempDir dir;
    writeWav(dir.path() / "good.wav", 1);
    writeWav(dir.path() / std::string("bad\xff\xfe.wav"), 1);
    const auto songs = LocalAudioScanner::scan({dir.path()});
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].title, "good");
    EXPECT_FALSE(songs[0].payload.empty());
}
