#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ViewHarness.h"
#include "ui/views/MacPlaybackControlsModel.h"
#include "ui/style/MacTime.h"
#include "ui/style/SymbolTable.h"
#include "ui/style/ViewTexts.h"

namespace velto {
namespace {

TEST(MacTime, FormatsMinutesAndSecondsAndClampsWhatIsNoTime) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0:00"}, {59.9, "0:59"}, {61, "1:01"}, {3725, "62:05"}, {-3, "0:00"},
        {std::nan(""), "0:00"}, {inf, "0:00"}, {-inf, "0:00"}, {75.4, "1:15"},
        // Past 64 bits: clamped to the largest total, never converted out of range.
        {1e19, "153722867280912930:07"}, {1e300, "153722867280912930:07"},
    };
    for (const auto& c : cases) EXPECT_EQ(macTime(c.seconds), c.text) << c.seconds;
}

TEST(SymbolTable, EveryNameTheViewsUseHasAGlyphAndAnUnknownOneWarns) {
    std::vector<std::string> names = {"heart", "heart.fill", "1.circle", "2.circle",
                                      "chevron.left", "xmark", "xmark.circle.fill", "link",
                                      "checkmark", "music.note.list", "exclamationmark.triangle",
                                      "backward.end.fill", "forward.end.fill"};
    for (auto mode : PlaybackService::allPlaybackModes)
        names.push_back(MacPlaybackControlsModel::info(mode).symbol);
    for (bool requested : {false, true})
        names.push_back(MacPlaybackControlsModel::playSymbol(requested));
    for (double volume : {0.0, 0.3, 0.8})
        names.push_back(MacPlaybackControlsModel::speakerSymbol(volume));
    ViewTexts texts;
    for (const char* property : {"placeholderSymbol", "errorSymbol"})
        names.push_back(texts.property(property).toString().toStdString());
    for (const auto& name : names) {
        auto glyph = SymbolTable::lookup(name);
        ASSERT_TRUE(glyph) << name;
        // Material Icons sit in the private use area; only the circled digits come from text.
        EXPECT_EQ(glyph->iconFont, glyph->codePoint >= 0xE000) << name;
    }

    ViewHarness harness;  // collects the warning
    EXPECT_TRUE(SymbolTable().glyph(QStringLiteral("hart")).isEmpty());
    EXPECT_EQ(harness.warnings.size(), 1);
    EXPECT_EQ(ViewTexts::placeholderSize(42), 14);
    EXPECT_NEAR(ViewTexts::placeholderSize(96), 26.88, 1e-9);
}

}  // namespace
}  // namespace velto
