#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../artwork/ArtworkTestSupport.h"
#include "artwork/ArtworkService.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/WorkerPool.h"
#include "support/StalledShare.h"
#include "support/TempDir.h"
#include "ui/artwork/MacArtworkModel.h"
#include "ui/artwork/ServiceArtworkLoader.h"

namespace velto {
namespace {

using namespace artworktest;

TEST(ServiceArtworkLoader, ImageSharesThePicturesPixelsForAsLongAsItLives) {
    ArtworkImagePtr picture = solid(3, 2, 200, 10, 20);
    std::weak_ptr<const ArtworkImage> held = picture;
    auto image = std::make_unique<QImage>(ServiceArtworkLoader::image(picture));
    EXPECT_EQ(image->constBits(), picture->pixels().data());
    EXPECT_EQ(image->format(), QImage::Format_RGBA8888_Premultiplied);
    picture.reset();
    ASSERT_FALSE(held.expired());
    EXPECT_EQ(image->pixelColor(2, 1), QColor(200, 10, 20));
    image.reset();
    EXPECT_TRUE(held.expired());
    EXPECT_TRUE(ServiceArtworkLoader::image(nullptr).isNull());
}

TEST(ServiceArtworkLoader, RoutesReachTheServiceAndCancelsStopTheAnswer) {
    ManualMainQueue queue;
    WorkerPool pool(1);
    TempDir dir;
    auto runtime = std::make_shared<ScriptedRuntime>();
    auto client = std::make_shared<ScriptedClient>();
    client->answer("https://covers.test/a", jpeg(4, 4, 250, 0, 0));
    client->answer("https://covers.test/b", jpeg(4, 4, 250, 0, 0));
    client->answer("https://pictures.test/p", jpeg(6, 6, 0, 0, 250));
    auto service = std::make_shared<ArtworkService>(runtime, client, dir.path() / "Artwork", 1000,
                                                    ArtworkService::Limits{1 << 20, 1 << 20, 100},
                                                    ArtworkService::Environment{pool, queue});
    ServiceArtworkLoader loader(service, [&] { return queue.wallNow(); });
    auto settle = [&] {
        for (int round = 0; round < 6; ++round) {
            bool reached = false;
            pool.submit([&] { queue.post([&] { reached = true; }); });
            ASSERT_TRUE(queue.runUntil([&] { return reached; }));
        }
    };

    std::optional<QImage> cover, picture;
    int cancelledAnswers = 0;
    loader.loadTrack(song("a"), [&](std::optional<QImage> image) { cover = std::move(image); });
    loader.loadAddress("https://pictures.test/p",
                       [&](std::optional<QImage> image) { picture = std::move(image); });
    loader.loadTrack(song("b"), [&](std::optional<QImage>) { ++cancelledAnswers; })();
    settle();
    ASSERT_TRUE(cover && picture);
    EXPECT_EQ(cover->width(), 4);
    EXPECT_GT(cover->pixelColor(1, 1).red(), 200);
    EXPECT_EQ(picture->width(), 6);
    EXPECT_GT(picture->pixelColor(1, 1).blue(), 200);
    EXPECT_EQ(cancelledAnswers, 0);

    // No service: every load answers with no picture.
    ServiceArtworkLoader none(nullptr, [&] { return queue.wallNow(); });
    int answers = 0;
    none.loadTrack(song("a"), [&](std::optional<QImage> image) { answers += !image; });
    none.loadAddress("https://pictures.test/p", [&](std::optional<QImage> image) { answers += !image; });
    EXPECT_EQ(answers, 2);
}

// A cover read past its deadline reaches every view of its song that shows the placeholder: a
// row and an album's page alike, not only the song playing.
TEST(ServiceArtworkLoader, ACoverReadPastItsDeadlineReachesEveryViewOfItsSong) {
    ManualMainQueue queue;
    WorkerPool pool(2);
    TempDir dir;
    const auto album = dir.path() / "album";
    std::filesystem::create_directories(album);
    std::ofstream(album / "cover.jpg") << jpeg(4, 4, 250, 0, 0);
    const Track local = song((album / "a.mp3").string(), MusicSource::local);
    auto service = std::make_shared<ArtworkService>(
        std::make_shared<ScriptedRuntime>(), std::make_shared<ScriptedClient>(),
        dir.path() / "Artwork", 1000, ArtworkService::Limits{1 << 20, 1 << 20, 100},
        ArtworkService::Environment{pool, queue});
    ServiceArtworkLoader loader(service, [&] { return queue.wallNow(); });
    MacArtworkModel row, page;
    auto share = std::make_unique<StalledShare>();
    for (MacArtworkModel* view : {&row, &page}) {
        view->setLoader(&loader);
        view->setTrack(local);
    }
    ASSERT_TRUE(share->waitUntilHeld(1));
    queue.advance(seconds(ArtworkService::localReadDeadline));
    ASSERT_TRUE(queue.runUntil([&] { return service->cacheUsage().pendingConsumers == 0; }));
    EXPECT_FALSE(row.hasImage() || page.hasImage());

    share.reset();
    EXPECT_TRUE(queue.runUntil([&] { return row.hasImage() && page.hasImage(); }));
    EXPECT_GT(QColor(row.image().pixel(1, 1)).red(), 200);
}

}  // namespace
}  // namespace velto
