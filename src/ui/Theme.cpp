#include "ui/Theme.h"

#include <QEvent>
#include <QGuiApplication>

#include "ui/AppFonts.h"
#include "ui/ReduceMotionSetting.h"

namespace velto {

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
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
    return colors;
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
