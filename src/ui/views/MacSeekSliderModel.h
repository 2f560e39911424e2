#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/MainQueue.h"
#include "playback/PlaybackService.h"

namespace velto {

// The playback-position slider's state. A seek is committed once, when a drag ends, and belongs
// to the song that was current when the drag began: a song change during the drag cancels it,
// and a commit whose song is no longer current when the seek would run is dropped. While the
// user drags, playback updates leave the knob alone.
class MacSeekSliderModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(double minimum READ minimum CONSTANT)
    Q_PROPERTY(double maximum READ maximum NOTIFY rangeChanged)
    Q_PROPERTY(bool enabled READ enabled NOTIFY rangeChanged)
    Q_PROPERTY(double position READ position NOTIFY positionChanged)
    Q_PROPERTY(bool tracking READ tracking NOTIFY trackingChanged)
    // The slider is on screen. A hidden one stops following playback and catches up when it
    // shows again.
    Q_PROPERTY(bool shown READ shown WRITE setShown NOTIFY shownChanged)
    // How many pixels the knob travels from end to end on screen (0: unknown). Playback moves
    // the knob only once it has gone a pixel or more, and the playback clock, watched by a shown
    // slider, ticks for the knob's next step.
    Q_PROPERTY(double pixels READ pixels WRITE setPixels NOTIFY pixelsChanged)

public:
    static constexpr double accessibilityStep = 5.0;
    // Playback moves the knob once it has gone a pixel; on a short song, by up to two pixels
    // at a time and then at most this often (seconds), as smooth to the eye at fewer frames.
    static constexpr double knobStepSeconds = 0.4;

    // `playback` may be null (a disabled slider); the queue runs the seeks.
    MacSeekSliderModel(PlaybackService* playback, MainQueue& mainQueue,
                       QObject* parent = nullptr);
    ~MacSeekSliderModel() override;

    QString title() const { return title_; }
    void setTitle(const QString& title);
    double minimum() const { return 0; }
    double maximum() const { return maximum_; }
    bool enabled() const { return enabled_; }
    double position() const { return position_; }
    bool tracking() const { return tracking_; }
    bool shown() const { return shown_; }
    void setShown(bool shown);
    double pixels() const { return pixels_; }
    void setPixels(double pixels);
    bool trackingCancelled() const { return trackingCancelled_; }
    const std::optional<std::string>& representedTrackID() const { return representedTrackID_; }

    // Shows a playback position; also called for every change of the service.
    void configure(double value, double duration, std::optional<std::string> trackID);
    // The position at which playing on next moves the knob (infinity: while a drag holds it).
    double nextMove(double elapsed) const;

    // Press: starts a drag where the slider is enabled; returns whether it did.
    Q_INVOKABLE bool beginTracking();
    // The knob moved under the pointer.
    Q_INVOKABLE void dragTo(double value);
    // Release: commits the held position (unless cancelled) and ends the drag.
    Q_INVOKABLE void endTracking(double value);
    // A keyboard step: commits at once.
    Q_INVOKABLE void keyboardChange(double value);

    // Assistive technology: a number or a text that reads in full as one (independent of the
    // locale); anything else is ignored.
    Q_INVOKABLE void setAccessibilityValue(const QVariant& value);
    Q_INVOKABLE bool accessibilityIncrement();
    Q_INVOKABLE bool accessibilityDecrement();
    Q_INVOKABLE bool accessibilityValueSettable() const { return enabled_; }

    // The full-text number reading used for assistive values.
    static std::optional<double> parseNumber(std::string_view text);

signals:
    void titleChanged();
    void rangeChanged();
    void positionChanged();
    void trackingChanged();
    void shownChanged();
    void pixelsChanged();
    void editingChanged(bool editing);
    // A committed position and the song it belongs to (the seek follows one turn later).
    void committed(double position, const QString& trackID);

private:
    void syncFromPlayback();
    PlaybackService::TimeWatch watchTime();
    void setPosition(double value);
    double clamp(double value) const;
    void commitAction();
    void commit(double value, const std::string& trackID);

    QPointer<PlaybackService> playback_;
    MainQueue& mainQueue_;
    QString title_;
    std::optional<std::string> representedTrackID_;
    bool tracking_ = false;
    std::optional<std::string> trackingTrackID_;
    bool trackingCancelled_ = false;
    double maximum_ = 1.0;
    bool enabled_ = false;
    double position_ = 0;
    bool shown_ = true;
    // Held while shown, for the knob's next move.
    PlaybackService::TimeWatch timeWatch_;
    double pixels_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velto
