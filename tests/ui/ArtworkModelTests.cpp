#include <gtest/gtest.h>

#include "FakeArtworkLoader.h"
#include "playback/PlaybackServiceFixture.h"
#include "ui/artwork/MacArtworkModel.h"

namespace velto {
namespace {

QRgb colourOf(const MacArtworkModel& model) {
    return model.hasImage() ? model.image().pixel(0, 0) : 0;
}

TEST(MacArtworkModel, CoverFollowsTheKeyAndDropsLateOrFailedAnswers) {
    FakeArtworkLoader fake;
    MacArtworkModel model;
    model.setLoader(&fake.loader);
    EXPECT_TRUE(fake.loads.empty());  // no song, no address: nothing loads

    model.setTrack(makeSong("a"));
    fake.answer("wy_a", solidImage(Qt::red));
    EXPECT_EQ(colourOf(model), QColor(Qt::red).rgb());

    // New details of the same song keep the picture and start nothing.
    Track renamed = makeSong("a");
    renamed.title = "renamed";
    model.setTrack(renamed);
    EXPECT_EQ(fake.loads.size(), 1u);

    // Another song: the picture goes at once, and A's late answer never shows.
    model.setTrack(makeSong("b"));
    EXPECT_FALSE(model.hasImage());
    fake.answer("wy_a", solidImage(Qt::green));
    EXPECT_FALSE(model.hasImage());
    fake.answer("wy_b", std::nullopt);
    EXPECT_FALSE(model.hasImage());

    // Without a cover the address's picture shows; a cover takes precedence.
    model.setURL(QStringLiteral("https://img.test/b.jpg"));
    fake.answer("https://img.test/b.jpg", solidImage(Qt::blue));
    EXPECT_EQ(colourOf(model), QColor(Qt::blue).rgb());
    model.setTrack(makeSong("c"));
    fake.answer("wy_c", solidImage(Qt::yellow));
    EXPECT_EQ(colourOf(model), QColor(Qt::yellow).rgb());

    // A cover that came late is asked for again only by a view of its song still without one.
    auto loads = fake.loads.size();
    emit fake.loader.coverCameLate(QStringLiteral("wy_c"));
    emit fake.loader.coverCameLate(QStringLiteral("wy_b"));
    EXPECT_EQ(fake.loads.size(), loads);
    model.setTrack(makeSong("e"));
    fake.answer("wy_e", std::nullopt);
    loads = fake.loads.size();
    emit fake.loader.coverCameLate(QStringLiteral("wy_e"));
    ASSERT_EQ(fake.loads.size(), loads + 1);
    fake.answer("wy_e", solidImage(Qt::cyan));
    EXPECT_EQ(colourOf(model), QColor(Qt::cyan).rgb());

    // Text that is no address loads nothing; leaving cancels what is under way.
    const auto before = fake.loads.size();
    model.setURL(QStringLiteral("not an address"));
    EXPECT_EQ(fake.loads.size(), before);
    model.setTrack(makeSong("d"));
    auto pending = fake.loads.back();
    model.setTrack(std::nullopt);
    EXPECT_TRUE(pending->cancelled);
}

}  // namespace
}  // namespace velto
