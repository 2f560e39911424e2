#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cmath>
#include <limits>

#include "playback/PlaybackServiceFixture.h"
#include "support/TempDir.h"
#include "ui/views/MacSeekSliderModel.h"

namespace velto {
namespace {

const double nan = std::nan("");
const double inf = std::numeric_limits<double>::infinity();

// The slider over its own values, no playback: what it commits is recorded.
class MacSeekSliderState : public ::testing::Test {
protected:
    MacSeekSliderState() {
        QObject::connect(&slider, &MacSeekSliderModel::committed,
                         [this](double position, const QString& id) {
                             commits.emplace_back(position, id.toStdString());
                         });
        QObject::connect(&slider, &MacSeekSliderModel::editingChanged,
                         [this](bool editing) { editing_.push_back(editing); });
    }
    ManualMainQueue queue;
    MacSeekSliderModel slider{nullptr, queue};
    std::vector<std::pair<double, std::string>> commits;
    std::vector<bool> editing_;
};

TEST_F(MacSeekSliderState, ConfigurationGivesRangeEnabledStateAndPosition) {
    const struct {
        double value, duration;
        std::optional<std::string> id;
        double maximum;
        bool enabled;
        double position;
    } cases[] = {
        {10, 180, "wy_1", 180, true, 10},  {10, 0, "wy_1", 1, false, 1},
        {0.2, nan, "wy_1", 1, false, 0.2}, {5, inf, "wy_1", 1, false, 1},
        {0.3, 0.5, "wy_1", 1, true, 0.3},  {200, 180, "wy_1", 180, true, 180},
        {nan, 180, "wy_1", 180, true, 0},  {-4, 180, "wy_1", 180, true, 0},
        {10, 180, std::nullopt, 180, false, 10},
    };
    for (const auto& c : cases) {
        slider.configure(c.value, c.duration, c.id);
        EXPECT_EQ(slider.maximum(), c.maximum) << c.value << " " << c.duration;
        EXPECT_EQ(slider.enabled(), c.enabled) << c.value << " " << c.duration;
        EXPECT_EQ(slider.position(), c.position) << c.value << " " << c.duration;
    }
    // Disabled: a press starts nothing and tells nobody.
    EXPECT_FALSE(slider.beginTracking());
    EXPECT_TRUE(editing_.empty());
}

TEST_F(MacSeekSliderState, ADragCommitsOnceOnReleaseUnlessTheSongChanged) {
    slider.configure(10, 180, "wy_1");
    ASSERT_TRUE(slider.beginTracking());
    slider.dragTo(90);
    slider.configure(11, 180, "wy_1");  // playback moves on; the knob stays held
    EXPECT_EQ(slider.position(), 90);
    EXPECT_TRUE(commits.empty());
    slider.endTracking(95);
    EXPECT_EQ(commits, (std::vector<std::pair<double, std::string>>{{95, "wy_1"}}));

    // Away and back during one drag still cancels it; playback owns the knob from then on.
    commits.clear();
    ASSERT_TRUE(slider.beginTracking());
    slider.configure(0, 200, "wy_2");
    slider.configure(12, 180, "wy_1");
    EXPECT_EQ(slider.position(), 12);
    slider.dragTo(50);
    EXPECT_EQ(slider.position(), 12);
    slider.endTracking(50);
    EXPECT_TRUE(commits.empty());
    EXPECT_EQ(editing_, (std::vector<bool>{true, false, true, false}));
    EXPECT_FALSE(slider.tracking());
    EXPECT_FALSE(slider.trackingCancelled());

    // A keyboard step commits at once.
    slider.keyboardChange(30);
    EXPECT_EQ(commits, (std::vector<std::pair<double, std::string>>{{30, "wy_1"}}));
}

// On a 240-pixel slider a 240 s song moves a pixel a second: playback's quarter-second steps
// move the knob every fourth time; a jump back, another song or a new range move it at once.
TEST_F(MacSeekSliderState, PlaybackMovesTheKnobByWholePixels) {
    slider.setPixels(240);
    slider.configure(0, 240, "wy_1");
    int moves = 0;
    QObject::connect(&slider, &MacSeekSliderModel::positionChanged, [&] { ++moves; });
    for (int step = 1; step <= 20; ++step) slider.configure(step * 0.25, 240, "wy_1");
    EXPECT_EQ(moves, 5);
    EXPECT_EQ(slider.position(), 5.0);
    const struct {
        double value, duration;
        const char* id;
    } jumps[] = {{1.0, 240, "wy_1"}, {1.2, 240, "wy_2"}, {1.4, 200, "wy_2"}};
    for (const auto& jump : jumps) {
        slider.configure(jump.value, jump.duration, jump.id);
        EXPECT_EQ(slider.position(), jump.value) << jump.id;
    }
}

TEST_F(MacSeekSliderState, AssistiveValuesAndSteps) {
    slider.configure(178, 180, "wy_1");
    EXPECT_TRUE(slider.accessibilityIncrement());
    slider.configure(3, 180, "wy_1");
    EXPECT_TRUE(slider.accessibilityDecrement());
    EXPECT_EQ(commits, (std::vector<std::pair<double, std::string>>{{180, "wy_1"}, {0, "wy_1"}}));

    // Read in full and independently of the locale: under a comma locale the C conversion
    // would stop at "42".
    TempDir locales;
    const std::string compile = "localedef -i de_DE -f UTF-8 '" +
                                (locales.path() / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    ::setenv("LOCPATH", locales.path().c_str(), 1);
    const char* saved = std::setlocale(LC_NUMERIC, nullptr);
    std::string restore = saved ? saved : "C";
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
    ASSERT_EQ(std::strtod("42.5", nullptr), 42.0);
    commits.clear();
    for (QVariant value : {QVariant(QStringLiteral(" 42.5\n")), QVariant(QStringLiteral("42.5s")),
                           QVariant(QStringLiteral("42,5")), QVariant(QStringLiteral("nan")),
                           QVariant(QStringLiteral("")), QVariant(60), QVariant(QVariantList{1}),
                           QVariant(QStringLiteral("+0x10"))})
        slider.setAccessibilityValue(value);
    std::setlocale(LC_NUMERIC, restore.c_str());
    ::unsetenv("LOCPATH");
    EXPECT_EQ(commits, (std::vector<std::pair<double, std::string>>{
                           {42.5, "wy_1"}, {60, "wy_1"}, {16, "wy_1"}}));

    // Nothing while a drag is in progress.
    commits.clear();
    ASSERT_TRUE(slider.beginTracking());
    EXPECT_FALSE(slider.accessibilityIncrement());
    slider.setAccessibilityValue(20);
    EXPECT_EQ(slider.position(), 16);
    EXPECT_TRUE(commits.empty());
}

class MacSeekSliderPlayback : public PlaybackServiceTest {};

TEST_F(MacSeekSliderPlayback, NoSeekWhenTheSongChangedBeforeTheSeekRuns) {
    make();
    startPlaying(makeSongs(3));
    MacSeekSliderModel slider(service.get(), mainQueue);
    slider.keyboardChange(60);
    service->next();
    settle();
    EXPECT_EQ(currentID(), "wy_s2");
    // Not even clamped to the loading song's unknown length: the seek never reaches the player.
    EXPECT_TRUE(player.seekTargets().empty());
}

// A hidden slider stays still while playback moves, and catches up with song and position
// when it shows again.
TEST_F(MacSeekSliderPlayback, AHiddenSliderFollowsPlaybackOnlyOnceShown) {
    make();
    startPlaying(makeSongs(2));
    MacSeekSliderModel slider(service.get(), mainQueue);
    int moves = 0;
    QObject::connect(&slider, &MacSeekSliderModel::positionChanged, [&] { ++moves; });
    for (int round = 0; round < 2; ++round) {
        slider.setShown(false);
        EXPECT_FALSE(service->timeWatched());  // the clock may slow down
        moves = 0;
        mainQueue.advance(std::chrono::seconds(3));
        if (round == 1) service->next();
        settle();
        EXPECT_EQ(moves, 0) << round;
        slider.setShown(true);
        EXPECT_EQ(slider.position(), service->elapsed()) << round;
        EXPECT_EQ(slider.representedTrackID(), std::optional(currentID())) << round;
        mainQueue.advance(std::chrono::seconds(1));
        EXPECT_GE(moves, 4) << round;
    }
}

// A shown slider ticks the clock for its knob: just after the knob reaches its next pixel (on a
// short song, its next step of up to two pixels), though not later than the coarse interval
// after the last tick; while a drag holds the knob, only at the coarse pace.
TEST_F(MacSeekSliderPlayback, TheKnobTicksTheClockAsItReachesEachPixel) {
    make();
    startPlaying(makeSongs(1));  // 240 s
    MacSeekSliderModel slider(service.get(), mainQueue);
    using Seconds = std::chrono::duration<double>;
    const double leeway = Seconds(PlaybackService::clockLeeway).count() + 1e-9;
    const double fine = Seconds(PlaybackService::fineClockInterval).count();
    const double coarse = Seconds(PlaybackService::coarseClockInterval).count();
    std::vector<double> gaps;   // between ticks
    std::vector<double> moves;  // of the knob
    double lastTick = mainQueue.uptimeSeconds();
    double knob = slider.position();
    QObject::connect(service.get(), &PlaybackService::elapsedChanged, [&] {
        gaps.push_back(mainQueue.uptimeSeconds() - std::exchange(lastTick, mainQueue.uptimeSeconds()));
    });
    QObject::connect(&slider, &MacSeekSliderModel::positionChanged,
                     [&] { moves.push_back(slider.position() - std::exchange(knob, slider.position())); });
    for (double pixels : {240.0, 960.0, 4800.0, 80.0}) {
        slider.setPixels(pixels);
        mainQueue.advance(std::chrono::seconds(2));
        gaps.clear();
        moves.clear();
        mainQueue.advance(std::chrono::seconds(12));
        const double pixel = 240 / pixels;
        const double step =
            std::max(pixel, std::min(2 * pixel, MacSeekSliderModel::knobStepSeconds));
        for (double gap : gaps) {
            EXPECT_GE(gap, fine - 1e-9) << pixels;
            EXPECT_LE(gap, coarse + leeway) << pixels;
        }
        for (double move : moves) {
            EXPECT_GE(move, step - 1e-9) << pixels;
            EXPECT_LE(move, std::max(step + leeway, fine + 1e-9)) << pixels;
        }
        EXPECT_NEAR(double(moves.size()), 12 / std::max(step + leeway, fine), 1) << pixels;
        if (pixel <= coarse) {
            EXPECT_EQ(gaps.size(), moves.size()) << pixels;  // none for nothing
        }
    }
    ASSERT_TRUE(slider.beginTracking());
    mainQueue.advance(std::chrono::seconds(2));
    gaps.clear();
    mainQueue.advance(std::chrono::seconds(3));
    EXPECT_EQ(gaps.size(), 3u);
}

}  // namespace
}  // namespace velto
