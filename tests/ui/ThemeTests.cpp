#include <gtest/gtest.h>

#include <QPalette>

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
        for (const QColor& ground : grounds)
            EXPECT_GE(Theme::contrast(colors.focusRing, ground), 3.0)
                << name << " " << colors.focusRing.name().toStdString() << " on "
                << ground.name().toStdString();
        EXPECT_GE(Theme::contrast(colors.focusRingOnAccent, colors.accent), 3.0) << name;
        if (colors.accent.hsvSaturation() > 60) {
            EXPECT_LE(std::abs(colors.focusRing.hsvHue() - colors.accent.hsvHue()), 4) << name;
        }
    }
}

}  // namespace
}  // namespace velto
