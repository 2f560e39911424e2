#include <QUrl>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <mutex>

#include "AppModelFixture.h"
#include "artwork/ArtworkHTTPClient.h"
#include "artwork/ArtworkJPEG.h"
#include "artwork/ArtworkService.h"
#include "foundation/Cancellation.h"
#include "support/StalledShare.h"

namespace velto {
namespace {

// Serves one small JPEG once the test opens the gate.
class GatedArtworkClient final : public ArtworkHTTPClient {
  public:
    std::string data(const std::string&, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, stop, [this] { return open_; });
        throwIfCancelled(stop);
        std::vector<std::uint8_t> pixels(8 * 8 * 4, 200);
        return ArtworkJPEG::encode(*ArtworkImage::make(8, 8, std::move(pixels)), 0.9).value();
    }
    void open(bool value = true) {
        std::lock_guard lock(mutex_);
        open_ = value;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
};

class AppModelCoverTest : public AppModelTest {
  protected:
    AppModelCoverTest() {
        artworkCacheDir = dir.path() / "covers";
        runtime->onPicURL = [](const Track& t) { return "https://img.example/" + t.songmid + ".jpg"; };
        runtime->onLyric = [](const Track& t) { return lrc("词" + t.songmid); };
    }
    ~AppModelCoverTest() override { client->open(); }

    AppEnvironment coverEnvironment() {
        auto env = environment();
        env.artworkClient = client;
        return env;
    }

    std::shared_ptr<GatedArtworkClient> client = std::make_shared<GatedArtworkClient>();
};

TEST_F(AppModelCoverTest, LyricsWaitForTheCoverWhichAlsoReachesNowPlaying) {
    model = std::make_unique<MacAppModel>(coverEnvironment());
    ASSERT_TRUE(model->artworkService());
    model->play({song("1")}, 0);
    settle();  // the lyrics are in, the cover is still downloading
    EXPECT_EQ(model->playback().state().kind, PlaybackService::StateKind::playing);
    EXPECT_FALSE(model->lyrics());
    EXPECT_FALSE(model->artwork());

    client->open();
    ASSERT_TRUE(mainQueue.runUntil([&] {
        settle();
        return model->artwork().has_value() && model->playback().nowPlayingArtwork().has_value();
    }));
    ASSERT_TRUE(model->lyrics());
    EXPECT_EQ(model->lyrics()->lines().at(0).text, "词1");
    const auto& url = model->artwork()->fileURL;
    EXPECT_TRUE(url.starts_with("file://") && url.ends_with(".img")) << url;
    EXPECT_EQ(model->playback().nowPlayingArtwork(), url);
    EXPECT_TRUE(std::filesystem::exists(QUrl(QString::fromStdString(url)).toLocalFile().toStdString()));

    // Another song clears the cover at once, Now Playing included.
    client->open(false);
    model->play({song("2")}, 0);
    mainQueue.runPending();
    EXPECT_FALSE(model->artwork());
    EXPECT_FALSE(model->lyrics());
    EXPECT_FALSE(model->playback().nowPlayingArtwork());
}

// A local cover read past its deadline (a share slow to answer, a disk spinning up) leaves the
// placeholder, and the cover takes its place when the read ends after all.
TEST_F(AppModelCoverTest, ALocalCoverReadPastItsDeadlineStillShows) {
    const auto album = dir.path() / "album";
    std::filesystem::create_directories(album);
    std::vector<std::uint8_t> pixels(8 * 8 * 4, 120);
    std::ofstream(album / "cover.jpg", std::ios::binary)
        << ArtworkJPEG::encode(*ArtworkImage::make(8, 8, std::move(pixels)), 0.9).value();
    Track local = song((album / "a.mp3").string());
    local.source = MusicSource::local;
    model = std::make_unique<MacAppModel>(coverEnvironment());
    StalledShare share;
    model->play({local}, 0);
    settle();
    ASSERT_TRUE(share.waitUntilHeld(1));
    mainQueue.advance(seconds(ArtworkService::localReadDeadline));
    ASSERT_TRUE(mainQueue.runUntil([&] {
        settle();
        return model->lyrics().has_value();  // they wait for the cover's answer
    }));
    EXPECT_FALSE(model->artwork());

    share.answer();
    ASSERT_TRUE(mainQueue.runUntil([&] {
        settle();
        return model->artwork().has_value();
    }));
    EXPECT_EQ(model->artwork()->image->width(), 8);
}

}  // namespace
}  // namespace velto
