#include "ui/style/Theme.h"

#include <QEvent>
#include <QGuiApplication>
#include <QList>
#include <QQuickWindow>
#include <algorithm>
#include <cmath>
#include <utility>

#include "ui/style/AppFonts.h"
#include "ui/style/ReduceMotionSetting.h"

namespace velto {

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

// `top` laid on `bottom`, as drawn.
QColor over(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

double luminance(const QColor& color) {
    const auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

// What a focus ring, or an icon or text in the accent, is drawn on: the window and the panel's
// ground, bare or under the fills of capsules, cards, buttons in cards, pressed buttons, the
// selected tab, a removed song's row, and the palette's own control fills.
QList<QColor> focusGrounds(const Theme::Colors& colors, const QPalette& palette) {
    QList<QColor> grounds{palette.color(QPalette::Button), palette.color(QPalette::Base)};
    const QColor tab = withAlpha(colors.accent, 0.15);
    const QColor removed = QColor::fromRgbF(0.2f, 0.78f, 0.35f, 0.1f);
    for (const QColor& ground : {palette.color(QPalette::Window), colors.background}) {
        const QColor fill = over(colors.quaternaryFill, ground);
        grounds << ground << fill << over(colors.quaternaryFill, fill)
                << over(colors.separator, fill) << over(tab, fill) << over(removed, ground);
    }
    return grounds;
}

double leastContrast(const QColor& color, const QList<QColor>& grounds) {
    double least = 21;
    for (const QColor& ground : grounds) least = std::min(least, Theme::contrast(color, ground));
    return least;
}

// `start`, or the first step from it towards `ink` that `fits`.
template <typename Fits>
QColor towards(const QColor& start, const QColor& ink, Fits fits) {
    constexpr int steps = 20;
    for (int step = 0; step < steps; ++step) {
        const double t = double(step) / steps;
        // In the 8 bits a channel is drawn with.
        const QColor mixed(QColor::fromRgbF(float(start.redF() + (ink.redF() - start.redF()) * t),
                                            float(start.greenF() + (ink.greenF() - start.greenF()) * t),
                                            float(start.blueF() + (ink.blueF() - start.blueF()) * t))
                               .rgb());
        if (fits(mixed)) return mixed;
    }
    return ink;
}

// `start`, or the first step from it towards `ink` that keeps `least` on every ground.
QColor legible(const QColor& start, const QColor& ink, const QList<QColor>& grounds, double least) {
    return towards(start, ink, [&](const QColor& c) { return leastContrast(c, grounds) >= least; });
}

QColor inkOf(const Theme::Colors& colors) {
    return colors.primary.lightness() > 127 ? QColor(Qt::white) : QColor(Qt::black);
}

// The accent as drawn on the panel's ground.
QColor opaqueAccent(const Theme::Colors& colors) {
    return QColor(over(colors.accent, colors.background).rgb());
}

}  // namespace

Theme::Theme(ReduceMotionSetting* motion, QObject* parent) : QObject(parent), motion_(motion) {
    applyPalette(QGuiApplication::palette());
    if (qApp) qApp->installEventFilter(this);
    if (motion_)
        connect(motion_, &ReduceMotionSetting::reduceMotionChanged, this,
                &Theme::reduceMotionChanged);
}

bool Theme::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

Theme::Colors Theme::colorsFor(const QPalette& palette) {
    const bool dark = isDark(palette);
    const QColor ink = dark ? QColor(255, 255, 255) : QColor(0, 0, 0);
    Colors colors;
    colors.primary = withAlpha(ink, 0.85);
    colors.secondary = withAlpha(ink, 0.5);
    colors.tertiary = withAlpha(ink, 0.26);
    colors.quaternaryFill = withAlpha(ink, dark ? 0.1 : 0.05);
    colors.separator = withAlpha(ink, dark ? 0.15 : 0.1);
    colors.orange = dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
    colors.accent = palette.color(QPalette::Active, QPalette::Highlight);
    colors.background = dark ? QColor(40, 40, 42) : QColor(246, 246, 246);
    colors.window = QColor(palette.color(QPalette::Window).rgb());
    const QColor accent = opaqueAccent(colors);
    colors.focusRing = legible(accent, ink, focusGrounds(colors, palette), focusContrast);
    // The prominent button's label is white; the ring is too, unless the accent is pale.
    colors.focusRingOnAccent = contrast(Qt::white, accent) >= focusContrast ? QColor(Qt::white)
                                                                             : QColor(Qt::black);
    colors.segmentTrack = laid(colors.quaternaryFill, colors.window, colors);
    colors.selectedTab = laid(withAlpha(colors.accent, 0.15), colors.segmentTrack, colors);
    // The chosen segment is filled with the accent, moved as far towards the ink as it takes to
    // stand out from the track and to carry its label, white in a light palette (as on a
    // prominent button) and black in a dark one.
    colors.chosenSegmentText = dark ? QColor(Qt::black) : QColor(Qt::white);
    colors.chosenSegment = towards(accent, ink, [&](const QColor& fill) {
        return contrast(fill, colors.segmentTrack) >= segmentContrast &&
               contrast(colors.chosenSegmentText, fill) >= textContrast;
    });
    return colors;
}

QColor Theme::laid(const QColor& top, const QColor& under, const Colors& colors) {
    const QColor ground = under.alpha() == 255 ? under : over(under, colors.window);
    return QColor(over(top, ground).rgb());
}

QColor Theme::accentOn(const Colors& colors, const QColor& ground, double least) {
    const QColor seen = laid(ground, colors.window, colors);
    return legible(opaqueAccent(colors), inkOf(colors), {seen}, least);
}

double Theme::contrast(const QColor& a, const QColor& b) {
    const QColor under = over(b, Qt::white);
    const double la = luminance(over(a, under));
    const double lb = luminance(under);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void Theme::paintControls(QQuickWindow& window, const QPalette& palette) {
    static const std::pair<const char*, QPalette::ColorGroup> groups[] = {
        {"active", QPalette::Active}, {"inactive", QPalette::Inactive}, {"disabled", QPalette::Disabled}};
    static const std::pair<const char*, QPalette::ColorRole> roles[] = {
        {"alternateBase", QPalette::AlternateBase}, {"base", QPalette::Base},
        {"brightText", QPalette::BrightText}, {"button", QPalette::Button},
        {"buttonText", QPalette::ButtonText}, {"dark", QPalette::Dark},
        {"highlight", QPalette::Highlight}, {"highlightedText", QPalette::HighlightedText},
        {"light", QPalette::Light}, {"link", QPalette::Link}, {"linkVisited", QPalette::LinkVisited},
        {"mid", QPalette::Mid}, {"midlight", QPalette::Midlight}, {"shadow", QPalette::Shadow},
        {"text", QPalette::Text}, {"toolTipBase", QPalette::ToolTipBase},
        {"toolTipText", QPalette::ToolTipText}, {"window", QPalette::Window},
        {"windowText", QPalette::WindowText}, {"placeholderText", QPalette::PlaceholderText}};
    auto* target = window.property("palette").value<QObject*>();
    if (!target) return;
    for (const auto& [groupName, group] : groups) {
        auto* colors = target->property(groupName).value<QObject*>();
        if (!colors) continue;
        for (const auto& [roleName, role] : roles) colors->setProperty(roleName, palette.color(group, role));
    }
}

QString Theme::fontFamily() const { return AppFonts::textFamily(); }
QString Theme::iconFamily() const { return AppFonts::iconFamily(); }
bool Theme::reduceMotion() const { return motion_ && motion_->reduceMotion(); }

void Theme::applyPalette(const QPalette& palette) {
    const bool dark = isDark(palette);
    Colors colors = colorsFor(palette);
    if (dark == dark_ && colors == colors_) return;
    dark_ = dark;
    colors_ = colors;
    emit colorsChanged();
}

bool Theme::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        applyPalette(QGuiApplication::palette());
    return QObject::eventFilter(watched, event);
}

}  // namespace velto
