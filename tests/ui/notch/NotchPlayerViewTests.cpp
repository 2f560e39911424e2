#include <gtest/gtest.h>

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include "../FakeTrackListActions.h"
#include "../ViewHarness.h"
#include "app/notch/NotchFakes.h"
#include "app/notch/NotchWindowController.h"
#include "playback/PlaybackServiceFixture.h"
#include "ui/notch/NotchMeterModel.h"
#include "ui/views/MacSeekSliderModel.h"
#include "ui/notch/NotchPlayerViewModel.h"
#include "ui/notch/QuickNotchPanel.h"
#include "ui/notch/QuickNotchPanelFactory.h"

namespace velto {
namespace {

using notchtest::FakeDesktop;

Track song(const std::string& id, const std::string& title, const std::string& artist) {
    Track track = makeSong(id, "3:30");
    track.title = title;
    track.artist = artist;
    return track;
}

std::vector<Track> songs() {
    return {song("201", "灯塔下的旧唱片", "远山合唱团"), song("202", "夏夜汽水", "晚星")};
}

LyricsDocument lyrics() {
    return LyricsDocument({{"a", 5, "潮水退去的时候"}, {"b", 10, "我们把名字写在沙上"}}, {});
}

class NotchPlayer : public PlaybackServiceTest {
  protected:
    NotchPlayer() {
        auto watcher = std::make_unique<FakeDesktop>();
        desktop = watcher.get();
        controller = std::make_unique<NotchWindowController>(mainQueue, std::move(watcher), nullptr);
        controller->setEnabled(true);
        make();
        player = std::make_unique<NotchPlayerViewModel>(*controller, *service, &actions, mainQueue);
    }
    ~NotchPlayer() override { player.reset(); }

    void useNotchScreen(double safeTop) {
        desktop->screenList = {{QRectF(0, 0, 1512, 982), safeTop, QRectF(0, 0, 663.5, 38),
                                QRectF(848.5, 0, 663.5, 38)}};
        desktop->handlers.screensChanged();
    }

    FakeDesktop* desktop = nullptr;
    FakeTrackListActions actions;
    std::unique_ptr<NotchWindowController> controller;
    std::unique_ptr<NotchPlayerViewModel> player;
};

TEST_F(NotchPlayer, HeaderAndShapeFollowTheScreenTheStateAndTheSong) {
    EXPECT_EQ(player->headerText(), "VELTO");  // no song
    startPlaying(songs());
    EXPECT_EQ(player->headerText(), QString::fromUtf8("灯塔下的旧唱片"));
    EXPECT_EQ(player->headerTracking(), 0);
    EXPECT_EQ(player->bottomRadius(), 18);
    controller->expand(false);
    EXPECT_EQ(player->headerText(), "VELTO");  // expanded: the brand, even while a song plays
    EXPECT_EQ(player->headerTracking(), 3);
    EXPECT_EQ(player->bottomRadius(), 28);
    EXPECT_EQ(player->headerHeight(), 36);
    EXPECT_EQ(player->topRadius(), 18);

    const struct {
        double safeTop, header;
    } notches[] = {{24, 32}, {38, 38}};
    for (const auto& notch : notches) {
        useNotchScreen(notch.safeTop);
        EXPECT_TRUE(player->hasNotch());
        EXPECT_EQ(player->notchWidth(), 185);
        EXPECT_EQ(player->headerHeight(), notch.header);
        EXPECT_EQ(player->topRadius(), 8);
        // The expanded block fills exactly what the expanded window adds under the header.
        EXPECT_EQ(player->headerHeight() + player->property("blockHeight").toDouble(),
                  controller->geometry().frame(true).height());
    }
    const std::pair<const char*, double> paddings[] = {
        {"blockHeight", 226}, {"headerPadding", 12}, {"blockSidePadding", 24}, {"blockTopPadding", 14}, {"blockBottomPadding", 16}};
    for (const auto& [name, value] : paddings) EXPECT_EQ(player->property(name).toDouble(), value) << name;
}

TEST_F(NotchPlayer, ControlsFollowTheSongTheLibraryAndThePlaybackState) {
    EXPECT_FALSE(player->hasTrack() || player->favoriteEnabled());
    EXPECT_EQ(player->title(), QString::fromUtf8("让音乐浮在手边"));
    EXPECT_EQ(player->artist(), QString::fromUtf8("点击状态栏 Velto 搜索或选择歌曲"));

    service->replaceQueue(songs(), 0, true);
    EXPECT_TRUE(player->loading());
    EXPECT_EQ(player->playLabel(), QString::fromUtf8("取消加载"));
    settle();
    EXPECT_TRUE(player->playing());
    EXPECT_EQ(player->playSymbol(), "pause.fill");

    player->toggleFavorite();
    EXPECT_EQ(player->favoriteSymbol(), "heart.fill");
    EXPECT_EQ(player->favoriteLabel(), QString::fromUtf8("取消收藏当前歌曲"));
    player->toggleFavorite();
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"collect wy_201", "remove wy_201"}));
    EXPECT_EQ(player->favoriteHelp(), QString::fromUtf8("收藏到个人歌单"));

    actions.setLibrary(false);  // only the favourite button goes
    EXPECT_FALSE(player->favoriteEnabled());
    EXPECT_TRUE(player->hasTrack());
}

TEST_F(NotchPlayer, FooterOffersRetryThenTheLyricLineThenTheVolume) {
    startPlaying(songs());
    EXPECT_EQ(player->footer(), "volume");  // no lyrics
    player->setLyrics(lyrics());
    EXPECT_EQ(player->footer(), "volume");  // before the first line
    service->seek(11);
    service->pause();
    settle();
    EXPECT_EQ(player->footer(), "lyric");
    EXPECT_EQ(player->lyricLine(), QString::fromUtf8("我们把名字写在沙上"));

    resolver.failOnce("wy_202", sourceFailure("歌曲下架"));
    service->next();
    settle();
    ASSERT_EQ(kind(), Kind::failed);
    EXPECT_EQ(player->footer(), "retry");
    player->setLyrics(LyricsDocument({{"a", 0, "潮水退去的时候"}}, {}));  // a line is current
    EXPECT_EQ(player->footer(), "retry");
}

TEST_F(NotchPlayer, HeaderTapOpensForTheKeyboardAndClosesAgain) {
    player->headerTapped();
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(controller->keyboardOpen());
    player->headerTapped();
    EXPECT_FALSE(controller->expanded());
}

// Collapsed, the elapsed text (shown only expanded) stays put instead of redrawing the window
// every second; expanding brings it up to date, and then it follows playback.
TEST_F(NotchPlayer, ElapsedTextMovesOnlyWhileExpanded) {
    startPlaying(songs());
    player->seek()->setShown(false);  // as the collapsed view has it
    int changes = 0;
    QObject::connect(player.get(), &NotchPlayerViewModel::timeChanged, [&] { ++changes; });
    mainQueue.advance(std::chrono::seconds(3));
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(service->timeWatched());
    controller->expand(false);
    settle();
    EXPECT_TRUE(service->timeWatched());
    EXPECT_EQ(player->elapsedText(), NotchPlayerViewModel::time(service->elapsed()));
    EXPECT_NE(player->elapsedText(), NotchPlayerViewModel::time(0));
    mainQueue.advance(std::chrono::seconds(2));
    EXPECT_EQ(player->elapsedText(), NotchPlayerViewModel::time(service->elapsed()));
    EXPECT_GE(changes, 3);
}

class NotchViews : public NotchPlayer {
  protected:
    void SetUp() override { ASSERT_TRUE(ViewHarness::fontsAvailable()); }
    void TearDown() override {
        EXPECT_TRUE(harness.warnings.isEmpty()) << harness.warnings.join("\n").toStdString();
    }
    QQuickItem* show(QSize size, bool reduceMotion = false) {
        return harness.load("NotchPlayerView",
                            {{"player", QVariant::fromValue(player.get())}, {"reduceMotion", reduceMotion}}, size);
    }
    QQuickItem* item(const char* name) {
        QQuickItem* found = harness.find(QString::fromUtf8(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    bool meterRuns() {
        EXPECT_TRUE(item("notchEqualizer"));
        return player->meter()->running();
    }
    void render(const QString& name) {
        EXPECT_FALSE(ViewHarness::isSingleColour(harness.render(name))) << name.toStdString();
    }
    // Seen, not only there: the light pixels in an item's place on the black notch.
    static int lightPixels(const QImage& shot, QQuickItem* target) {
        if (!target) return 0;
        const QRect area = target->mapRectToScene({0, 0, target->width(), target->height()}).toAlignedRect();
        int light = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                light += shot.valid(x, y) && qGray(shot.pixel(x, y)) > 150;
        return light;
    }
    void click(const char* name) {
        QQuickItem* target = item(name);
        ASSERT_TRUE(target && target->isEnabled()) << name;
        QTest::mouseClick(target->window(), Qt::LeftButton, {},
                          target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }

    ViewHarness harness;
};

TEST_F(NotchViews, EveryStateLoadsAndRenders) {
    const QSize collapsed(230, 36), expanded(420, 262);
    ASSERT_TRUE(show(collapsed));
    EXPECT_FALSE(item("notchExpanded")->isVisible());
    render("notch-collapsed-empty");

    controller->expand(false);
    ASSERT_TRUE(show(expanded));
    EXPECT_FALSE(item("notchPlay")->isEnabled());
    EXPECT_TRUE(item("notchOpenPanel")->isEnabled());
    render("notch-expanded-empty");

    service->replaceQueue(songs(), 0, true);
    harness.settle();
    EXPECT_TRUE(item("notchLoading")->isVisible());
    EXPECT_GT(lightPixels(harness.render("notch-expanded-loading"), item("notchLoading")), 8);
    settle();
    harness.settle();
    EXPECT_TRUE(meterRuns());
    // The desktop tells that nobody can see the notch (blanked, locked, a full-screen window):
    // the meter stops until it can be seen again.
    desktop->handlers.obscuredChanged(true);
    EXPECT_FALSE(meterRuns());
    desktop->handlers.obscuredChanged(false);
    EXPECT_TRUE(meterRuns());
    EXPECT_TRUE(item("notchVolume")->isVisible());
    render("notch-expanded-playing");
    QTest::keyClick(item("notchPlay")->window(), Qt::Key_Tab);
    QQuickItem* focused = item("notchPlay")->window()->activeFocusItem();
    ASSERT_TRUE(focused && focused->property("visualFocus").toBool());
    EXPECT_TRUE(focused->findChild<QQuickItem*>("focusRing")->isVisible());
    render("notch-expanded-focus-ring");

    player->setLyrics(lyrics());
    service->seek(6);
    service->pause();
    settle();
    harness.settle();
    EXPECT_FALSE(meterRuns());
    EXPECT_TRUE(item("notchLyric")->isVisible());
    controller->setPinned(true);
    actions.setLibrary(false);
    harness.settle();
    EXPECT_FALSE(item("notchFavorite")->isEnabled());
    EXPECT_TRUE(item("notchNext")->isEnabled());
    render("notch-expanded-paused-lyric-pinned-no-library");

    resolver.failOnce("wy_202", sourceFailure("歌曲下架"));
    service->next();
    settle();
    harness.settle();
    EXPECT_TRUE(item("notchRetry")->isVisible());
    render("notch-expanded-failed");

    controller->collapse();
    service->retryCurrent();
    settle();
    ASSERT_TRUE(show(collapsed, true));  // reduced motion: the meter stands still while playing
    EXPECT_FALSE(meterRuns());
    render("notch-collapsed-playing");

    useNotchScreen(38);
    ASSERT_TRUE(show({273, 38}));
    EXPECT_FALSE(item("notchHeaderText")->isVisible());
    EXPECT_EQ(item("notchHousing")->width(), 185);
    render("notch-collapsed-housing");
}

TEST_F(NotchViews, ControlsReachTheControllerAndThePlayer) {
    startPlaying(songs());
    controller->expand(false);
    ASSERT_TRUE(show({420, 262}));
    click("notchPin");
    EXPECT_TRUE(controller->pinned());
    click("notchFavorite");
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"collect wy_201"}));
    click("notchPlay");
    settle();
    EXPECT_FALSE(service->playbackRequested());

    int asked = 0;
    QObject::connect(controller.get(), &NotchWindowController::openStatusPanelRequested, [&] {
        EXPECT_FALSE(controller->expanded() || controller->pinned());  // collapsed first
        ++asked;
    });
    click("notchOpenPanel");
    EXPECT_EQ(asked, 1);
}

TEST_F(NotchViews, TheRealPanelHangsAboveOthersAndClosesOnEscapeAndFocusLoss) {
    QQmlEngine engine;
    NotchWindowController windowed(mainQueue, std::make_unique<FakeDesktop>(),
                                   QuickNotchPanelFactory({&engine, &mainQueue, service.get(), &actions, {}}));
    windowed.setEnabled(true);
    auto* panel = dynamic_cast<QuickNotchPanel*>(windowed.panel());
    ASSERT_TRUE(panel);
    QQuickWindow* window = panel->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), QRect(845, 6, 230, 36));
    const auto flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    EXPECT_EQ(window->flags() & flags, flags);
    ASSERT_TRUE(window->contentItem()->childItems().size() == 1);
    EXPECT_EQ(window->contentItem()->childItems()[0]->size(), QSizeF(230, 36));

    windowed.expand(true);
    EXPECT_EQ(window->geometry(), QRect(750, 6, 420, 262));
    harness.settle();
    EXPECT_TRUE(window->isActive());
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(windowed.expanded());

    windowed.expand(true);
    harness.settle();
    ASSERT_TRUE(window->isActive());
    QWindow other;
    other.show();
    other.requestActivate();
    harness.settle();
    EXPECT_FALSE(windowed.expanded());

    windowed.setEnabled(false);
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace velto
