#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>
#include <QString>

class QQuickWindow;

namespace velto {

class ReduceMotionSetting;

// Text styles, colours and motion the views share. Sizes are device-independent pixels.
// Colours are fixed light and dark sets with alpha (no material blur behind the panel); which
// set applies follows the desktop palette, and the accent is the palette's highlight. The focus
// ring starts from the accent and is moved towards the ink until it stands out from every ground
// the controls lay it on; an icon or text in the accent is drawn in the accent where that stands
// out from its own ground, and moved likewise only where it does not; fills take the accent as
// is, but for the chosen segment of a segmented control, which must stand out from its track.
class Theme : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT)
    Q_PROPERTY(QString iconFamily READ iconFamily CONSTANT)
    Q_PROPERTY(int headline MEMBER headline_ CONSTANT)
    Q_PROPERTY(int body MEMBER body_ CONSTANT)
    Q_PROPERTY(int callout MEMBER callout_ CONSTANT)
    Q_PROPERTY(int subheadline MEMBER subheadline_ CONSTANT)
    Q_PROPERTY(int caption MEMBER caption_ CONSTANT)
    Q_PROPERTY(int caption2 MEMBER caption2_ CONSTANT)
    Q_PROPERTY(int semibold READ semiboldWeight CONSTANT)
    // Help texts show after the pointer rests, as the desktop's tooltips do.
    Q_PROPERTY(int helpDelay MEMBER helpDelay_ CONSTANT)
    Q_PROPERTY(bool dark READ dark NOTIFY colorsChanged)
    Q_PROPERTY(QColor primary READ primary NOTIFY colorsChanged)
    Q_PROPERTY(QColor secondary READ secondary NOTIFY colorsChanged)
    Q_PROPERTY(QColor tertiary READ tertiary NOTIFY colorsChanged)
    Q_PROPERTY(QColor quaternaryFill READ quaternaryFill NOTIFY colorsChanged)
    Q_PROPERTY(QColor accent READ accent NOTIFY colorsChanged)
    // The panel's own ground (the palette's window colour, which the panel window is filled with).
    Q_PROPERTY(QColor window READ window NOTIFY colorsChanged)
    // The selected tab button's fill, as seen on the tab bar.
    Q_PROPERTY(QColor selectedTab READ selectedTab NOTIFY colorsChanged)
    // A segmented control's track, its chosen segment and that segment's label.
    Q_PROPERTY(QColor segmentTrack READ segmentTrack NOTIFY colorsChanged)
    Q_PROPERTY(QColor chosenSegment READ chosenSegment NOTIFY colorsChanged)
    Q_PROPERTY(QColor chosenSegmentText READ chosenSegmentText NOTIFY colorsChanged)
    Q_PROPERTY(QColor orange READ orange NOTIFY colorsChanged)
    Q_PROPERTY(QColor separator READ separator NOTIFY colorsChanged)
    Q_PROPERTY(QColor background READ background NOTIFY colorsChanged)
    Q_PROPERTY(QColor focusRing READ focusRing NOTIFY colorsChanged)
    // On a control filled with the accent (a prominent button).
    Q_PROPERTY(QColor focusRingOnAccent READ focusRingOnAccent NOTIFY colorsChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)

public:
    struct Colors {
        QColor primary, secondary, tertiary, quaternaryFill, accent, orange, separator, background;
        QColor focusRing, focusRingOnAccent;
        QColor window, selectedTab, segmentTrack, chosenSegment, chosenSegmentText;
        bool operator==(const Colors&) const = default;
    };

    // `motion` may be null (animations on); it must outlive the theme.
    explicit Theme(ReduceMotionSetting* motion = nullptr, QObject* parent = nullptr);

    // A palette is dark when its window colour is darker than its text.
    static bool isDark(const QPalette& palette);
    static Colors colorsFor(const QPalette& palette);
    // The contrast ratio of two colours as seen (1 to 21), the translucent one laid on the other.
    static double contrast(const QColor& a, const QColor& b);
    // The least contrast a focus ring keeps with what it is drawn on.
    static constexpr double focusContrast = 3.0;
    // The least contrast of an icon, and of text, drawn in the accent, and of a chosen segment
    // with its track.
    static constexpr double iconContrast = 3.0;
    static constexpr double textContrast = 4.5;
    static constexpr double segmentContrast = 3.0;
    // `top` laid on `under` as seen: opaque where `under` is; a translucent `under` lies on the
    // panel's ground.
    static QColor laid(const QColor& top, const QColor& under, const Colors& colors);
    // The accent, where it stands `least` on `ground` (translucent: laid on the panel's ground);
    // else the first step from it towards the ink that does.
    static QColor accentOn(const Colors& colors, const QColor& ground, double least);

    // The semibold weight of the headline and of emphasised rows.
    static constexpr int semibold = 600;
    int semiboldWeight() const { return semibold; }

    QString fontFamily() const;
    QString iconFamily() const;
    bool dark() const { return dark_; }
    QColor primary() const { return colors_.primary; }
    QColor secondary() const { return colors_.secondary; }
    QColor tertiary() const { return colors_.tertiary; }
    QColor quaternaryFill() const { return colors_.quaternaryFill; }
    QColor accent() const { return colors_.accent; }
    QColor window() const { return colors_.window; }
    QColor selectedTab() const { return colors_.selectedTab; }
    QColor segmentTrack() const { return colors_.segmentTrack; }
    QColor chosenSegment() const { return colors_.chosenSegment; }
    QColor chosenSegmentText() const { return colors_.chosenSegmentText; }
    Q_INVOKABLE QColor laid(const QColor& top, const QColor& under) const { return laid(top, under, colors_); }
    Q_INVOKABLE QColor accentIconOn(const QColor& ground) const { return accentOn(colors_, ground, iconContrast); }
    Q_INVOKABLE QColor accentTextOn(const QColor& ground) const { return accentOn(colors_, ground, textContrast); }
    QColor orange() const { return colors_.orange; }
    QColor separator() const { return colors_.separator; }
    QColor background() const { return colors_.background; }
    QColor focusRing() const { return colors_.focusRing; }
    QColor focusRingOnAccent() const { return colors_.focusRingOnAccent; }
    bool reduceMotion() const;

    // Gives every role of `palette` to the window's controls. Qt Quick's controls take the
    // desktop's palette only as a change arriving after the window was made; without this, a
    // window made under a dark desktop scheme draws its controls in the style's light colours.
    static void paintControls(QQuickWindow& window, const QPalette& palette);

    // Re-reads the application palette (also done on every palette change).
    void applyPalette(const QPalette& palette);

signals:
    void colorsChanged();
    void reduceMotionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ReduceMotionSetting* motion_;
    bool dark_ = false;
    Colors colors_;
    int headline_ = 13;
    int body_ = 13;
    int callout_ = 12;
    int subheadline_ = 11;
    int caption_ = 10;
    int caption2_ = 10;
    int helpDelay_ = 700;
};

}  // namespace velto
