#include <gtest/gtest.h>

#include <QPalette>
#include <tuple>

#include "ui/style/Theme.h"

namespace velto {
namespace {

QColor over(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

QPalette palette(const char* window, const char* text, const char* button, const char* base,
                 const char* highlight) {
    QPalette p;
    p.setColor(QPalette::Window, QColor(window));
    p.setColor(QPalette::WindowText, QColor(text));
    p.setColor(QPalette::Button, QColor(button));
    p.setColor(QPalette::Base, QColor(base));
    p.setColor(QPalette::Highlight, QColor(highlight));
    return p;
}

const struct {
    const char* name;
    QPalette palette;
    bool dark;
} palettes[] = {
    {"light", palette("#efefef", "#000000", "#efefef", "#ffffff", "#308cc6"), false},
    {"dark scheme", palette("#222020", "#ffffff", "#424245", "#3d3d3d", "#12608a"), true},
    {"pale highlight", palette("#f6f6f6", "#202020", "#e8e8e8", "#ffffff", "#cde8ff"), false},
    {"dark highlight", palette("#303030", "#eeeeee", "#3a3a3a", "#2a2a2a", "#202040"), true},
};

// The focus ring keeps a contrast of 3:1 with everything the panel draws it on (the window, the
// capsules and cards, buttons in cards, the selected tab, a removed song's row, the palette's
// control fills, a prominent button's accent), in the standard light palette, a dark desktop
// scheme, and palettes whose highlight sits close to their ground; it keeps the highlight's hue.
TEST(Theme, FocusRingStandsOutInLightAndDarkPalettes) {
    // As measured on screen: each palette's highlight on the panel's ground.
    EXPECT_NEAR(Theme::contrast(QColor("#12608a"), QColor("#28282a")), 2.15, 0.02);
    EXPECT_NEAR(Theme::contrast(QColor("#308cc6"), QColor("#f6f6f6")), 3.4, 0.05);
    EXPECT_NEAR(Theme::contrast(QColor(255, 255, 255, 26), QColor("#28282a")),
                Theme::contrast(QColor("#3e3e40"), QColor("#28282a")), 0.02);

    for (const auto& [name, p, dark] : palettes) {
        EXPECT_EQ(Theme::isDark(p), dark) << name;
        const Theme::Colors colors = Theme::colorsFor(p);
        QList<QColor> grounds{p.color(QPalette::Button), p.color(QPalette::Base)};
        for (const QColor& ground : {p.color(QPalette::Window), colors.background}) {
            const QColor capsule = over(colors.quaternaryFill, ground);
            grounds << ground << capsule << over(colors.quaternaryFill, capsule)
                    << over(colors.separator, capsule)
                    << over(QColor::fromRgbF(colors.accent.redF(), colors.accent.greenF(),
                                             colors.accent.blueF(), 0.15f),
                            capsule)
                    << over(QColor::fromRgbF(0.2f, 0.78f, 0.35f, 0.1f), ground);
        }
        for (const QColor& ground : grounds)
            EXPECT_GE(Theme::contrast(colors.focusRing, ground), 3.0)
                << name << " " << colors.focusRing.name().toStdString() << " on " << ground.name().toStdString();
        EXPECT_GE(Theme::contrast(colors.focusRingOnAccent, colors.accent), 3.0) << name;
        if (colors.accent.hsvSaturation() > 60) {
            EXPECT_LE(std::abs(colors.focusRing.hsvHue() - colors.accent.hsvHue()), 4) << name;
        }
    }
}

// An icon in the accent stands 3:1 on its ground, text 4.5:1: in the accent itself wherever that
// stands out already (the light palette's active settings icon on the window, 3.21:1), else in a
// colour moved from it towards the ink, of the same hue. Each ground is taken as it is seen: the
// window, the selected tab, a segmented control's track, a card on that track.
TEST(Theme, AccentIsKeptWhereItStandsOutOnItsGround) {
    EXPECT_NEAR(Theme::contrast(QColor("#308cc6"), QColor("#efefef")), 3.21, 0.01);
    for (const auto& [name, p, dark] : palettes) {
        const Theme::Colors colors = Theme::colorsFor(p);
        const QColor card = QColor::fromRgbF(colors.primary.redF(), colors.primary.greenF(),
                                             colors.primary.blueF(), 0.07f);
        const std::pair<const char*, QColor> grounds[] = {
            {"window", p.color(QPalette::Window)},
            {"selected tab", over(QColor::fromRgbF(colors.accent.redF(), colors.accent.greenF(),
                                                   colors.accent.blueF(), 0.15f),
                                  over(colors.quaternaryFill, p.color(QPalette::Window)))},
            {"track", over(colors.quaternaryFill, p.color(QPalette::Window))},
            {"card", over(card, over(colors.quaternaryFill, p.color(QPalette::Window)))},
        };
        for (const auto& [groundName, ground] : grounds) {
            for (const auto& [role, least] : {std::pair{"icon", 3.0}, std::pair{"text", 4.5}}) {
                const QColor drawn = Theme::accentOn(colors, ground, least);
                const std::string at = std::string(name) + " " + role + " on " + groundName;
                if (Theme::contrast(colors.accent, ground) >= least) {
                    EXPECT_EQ(drawn, colors.accent) << at;
                } else {
                    EXPECT_GE(Theme::contrast(drawn, ground), least) << at;
                    if (colors.accent.hsvSaturation() > 60) {
                        EXPECT_LE(std::abs(drawn.hsvHue() - colors.accent.hsvHue()), 4) << at;
                    }
                }
            }
        }
    }
    // Laid as seen: a translucent ground lies on the window.
    const Theme::Colors light = Theme::colorsFor(palettes[0].palette);
    EXPECT_EQ(Theme::accentOn(light, light.quaternaryFill, 3.0),
              Theme::accentOn(light, over(light.quaternaryFill, QColor("#efefef")), 3.0));
}

// The chosen segment of a segmented control stands 3:1 against its track, and its label 4.5:1
// on it, in either palette (the window's colour alone stood 1.19:1 on the light track).
TEST(Theme, ChosenSegmentStandsOutFromItsTrack) {
    for (const auto& [name, p, dark] : palettes) {
        const Theme::Colors colors = Theme::colorsFor(p);
        const QColor track = over(colors.quaternaryFill, p.color(QPalette::Window));
        EXPECT_EQ(colors.segmentTrack, QColor(track.rgb())) << name;
        EXPECT_GE(Theme::contrast(colors.chosenSegment, track), 3.0) << name;
        EXPECT_GE(Theme::contrast(colors.chosenSegmentText, colors.chosenSegment), 4.5) << name;
        if (colors.accent.hsvSaturation() > 60) {
            EXPECT_LE(std::abs(colors.chosenSegment.hsvHue() - colors.accent.hsvHue()), 4) << name;
        }
    }
    EXPECT_LT(Theme::contrast(QColor("#f6f6f6"), over(QColor(0, 0, 0, 13), QColor("#efefef"))), 1.25);
}

}  // namespace
}  // namespace velto
