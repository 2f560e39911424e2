#include <gtest/gtest.h>

#include <QPalette>
#include <cmath>
#include <limits>

#include "ViewHarness.h"
#include "ui/MacLyricsModel.h"
#include "ui/MacPlaybackControlsModel.h"
#include "ui/SymbolTable.h"
#include "ui/Theme.h"
#include "ui/ViewTexts.h"
#include "ui/MacTime.h"

namespace velto {
namespace {

TEST(MacTime, FormatsMinutesAndSecondsAndClampsWhatIsNoTime) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0:00"},         {59.9, "0:59"},      {61, "1:01"},         {3725, "62:05"},
        {-3, "0:00"},        {-0.5, "0:00"},      {std::nan(""), "0:00"}, {inf, "0:00"},
        {-inf, "0:00"},      {75.4, "1:15"},
        // Past 64 bits: clamped to the largest total, never converted out of range.
        {1e19, "153722867280912930:07"}, {1e300, "153722867280912930:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(macTime(c.seconds), c.text) << c.seconds;
}

TEST(SymbolTable, EveryNameTheViewsUseHasAGlyphAndAnUnknownOneWarns) {
    using Mode = PlaybackService::PlaybackMode;
    std::vector<std::string> names = {"heart", "heart.fill", "1.circle", "2.circle",
                                      "chevron.left", "xmark", "xmark.circle.fill", "link",
                                      "checkmark", "music.note.list", "exclamationmark.triangle"};
    for (Mode mode : PlaybackService::allPlaybackModes)
        names.push_back(MacPlaybackControlsModel::info(mode).symbol);
    for (bool requested : {false, true})
        names.push_back(MacPlaybackControlsModel::playSymbol(requested));
    for (double volume : {0.0, 0.3, 0.8})
        names.push_back(MacPlaybackControlsModel::speakerSymbol(volume));
    MacPlaybackControlsModel controls(nullptr);
    ViewTexts texts;
    for (const char* property : {"previousSymbol", "nextSymbol"})
        names.push_back(controls.property(property).toString().toStdString());
    for (const char* property : {"placeholderSymbol", "errorSymbol"})
        names.push_back(texts.property(property).toString().toStdString());

    for (const auto& name : names) {
        auto glyph = SymbolTable::lookup(name);
        ASSERT_TRUE(glyph) << name;
        // Material Icons sit in the private use area; only the circled digits come from text.
        EXPECT_EQ(glyph->iconFont, glyph->codePoint >= 0xE000) << name;
    }
    EXPECT_EQ(SymbolTable::lookup("1.circle")->codePoint, u'①');

    ViewHarness harness;  // collects the warning
    SymbolTable table;
    EXPECT_TRUE(table.glyph(QStringLiteral("hart")).isEmpty());
    EXPECT_EQ(harness.warnings.size(), 1);
}

TEST(Theme, FollowsTheDesktopPaletteAndAnnouncesOnlyChanges) {
    QPalette light(Qt::black, QColor(240, 240, 240));
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    light.setColor(QPalette::WindowText, Qt::black);
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, Qt::white);
    EXPECT_FALSE(Theme::isDark(light));
    EXPECT_TRUE(Theme::isDark(dark));
    const auto lightColors = Theme::colorsFor(light);
    const auto darkColors = Theme::colorsFor(dark);
    EXPECT_LT(lightColors.primary.lightness(), 128);
    EXPECT_GT(darkColors.primary.lightness(), 128);
    EXPECT_GT(lightColors.primary.alphaF(), lightColors.secondary.alphaF());
    EXPECT_GT(lightColors.secondary.alphaF(), lightColors.tertiary.alphaF());

    ViewHarness harness;
    Theme theme;
    int announced = 0;
    QObject::connect(&theme, &Theme::colorsChanged, [&] { ++announced; });
    theme.applyPalette(dark);
    theme.applyPalette(dark);
    EXPECT_TRUE(theme.dark());
    EXPECT_EQ(announced, 1);

    EXPECT_EQ(ViewTexts::placeholderSize(32), 14);
    EXPECT_EQ(ViewTexts::placeholderSize(42), 14);
    EXPECT_NEAR(ViewTexts::placeholderSize(96), 26.88, 1e-9);
    EXPECT_EQ(ViewTexts::placeholderSize(0), 14);
}

}  // namespace
}  // namespace velto
