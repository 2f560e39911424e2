#include <gtest/gtest.h>

#include <QPalette>
#include <tuple>

#include "ui/Theme.h"

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

// The focus ring, and icons in the accent, keep a contrast of 3:1 with everything the panel draws
// them on (the window, the capsules and cards, buttons in cards, the selected tab, a removed
// song's row, the palette's control fills; the ring also a prominent button's accent), text in
// the accent 4.5:1, in the standard light palette, a dark desktop scheme, and palettes whose
// highlight sits close to their ground; they keep the highlight's hue, and an accent that
// stands out already is drawn as it is.
TEST(Theme, FocusRingStandsOutInLightAndDarkPalettes) {
    // As measured on screen: each palette's highlight on the panel's ground.
    EXPECT_NEAR(Theme::contrast(QColor("#12608a"), QColor("#28282a")), 2.15, 0.02);
    EXPECT_NEAR(Theme::contrast(QColor("#308cc6"), QColor("#f6f6f6")), 3.4, 0.05);
    EXPECT_NEAR(Theme::contrast(QColor(255, 255, 255, 26), QColor("#28282a")),
                Theme::contrast(QColor("#3e3e40"), QColor("#28282a")), 0.02);

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
        double accentLeast = 21;
        for (const QColor& ground : grounds) {
            accentLeast = std::min(accentLeast, Theme::contrast(colors.accent, ground));
            for (const auto& [role, color, least] : {std::tuple{"ring", colors.focusRing, 3.0},
                                                     std::tuple{"icon", colors.accentIcon, 3.0},
                                                     std::tuple{"text", colors.accentText, 4.5}})
                EXPECT_GE(Theme::contrast(color, ground), least)
                    << name << " " << role << " " << color.name().toStdString() << " on "
                    << ground.name().toStdString();
        }
        EXPECT_GE(Theme::contrast(colors.focusRingOnAccent, colors.accent), 3.0) << name;
        if (colors.accent.hsvSaturation() > 60) {
            for (const QColor& color : {colors.focusRing, colors.accentIcon, colors.accentText})
                EXPECT_LE(std::abs(color.hsvHue() - colors.accent.hsvHue()), 4) << name;
        }
        if (accentLeast >= 3.0) {
            EXPECT_EQ(colors.accentIcon, colors.accent) << name;
        }
    }
}

}  // namespace
}  // namespace velto
