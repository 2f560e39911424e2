#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

#include "artwork/ArtworkImage.h"
#include "foundation/MainQueue.h"
#include "playback/LyricsDocument.h"
#include "sources/model/Track.h"

namespace velto {

class MacSeekSliderModel;
class NotchMeterModel;
class NotchWindowController;
class PlaybackService;
class TrackListActions;

// What the notch player shows and does: its shape from the controller's geometry and state,
// the current song and its controls from the playback service, favourites through the
// application's track actions, and the lyric line and cover the application hands in. Each
// group of values announces itself only when one of them changed.
class NotchPlayerViewModel : public QObject {
    Q_MOC_INCLUDE("ui/views/MacSeekSliderModel.h")
    Q_MOC_INCLUDE("ui/notch/NotchMeterModel.h")
    Q_OBJECT
    Q_PROPERTY(bool expanded READ expanded NOTIFY layoutChanged)
    Q_PROPERTY(bool hasNotch READ hasNotch NOTIFY layoutChanged)
    Q_PROPERTY(double notchWidth READ notchWidth NOTIFY layoutChanged)
    Q_PROPERTY(double headerHeight READ headerHeight NOTIFY layoutChanged)
    Q_PROPERTY(double topRadius READ topRadius NOTIFY layoutChanged)
    Q_PROPERTY(double bottomRadius READ bottomRadius NOTIFY layoutChanged)
    Q_PROPERTY(QString headerText READ headerText NOTIFY layoutChanged)
    Q_PROPERTY(double headerTracking READ headerTracking NOTIFY layoutChanged)
    Q_PROPERTY(QString headerActionName READ headerActionName NOTIFY layoutChanged)
    Q_PROPERTY(bool pinned READ pinned NOTIFY layoutChanged)
    Q_PROPERTY(QString pinSymbol READ pinSymbol NOTIFY layoutChanged)
    Q_PROPERTY(QString pinHelp READ pinHelp NOTIFY layoutChanged)
    Q_PROPERTY(QString pinLabel READ pinLabel NOTIFY layoutChanged)
    Q_PROPERTY(bool hasTrack READ hasTrack NOTIFY trackChanged)
    Q_PROPERTY(QString title READ title NOTIFY trackChanged)
    Q_PROPERTY(QString artist READ artist NOTIFY trackChanged)
    Q_PROPERTY(bool favorite READ favorite NOTIFY trackChanged)
    Q_PROPERTY(bool favoriteEnabled READ favoriteEnabled NOTIFY trackChanged)
    Q_PROPERTY(QString favoriteSymbol READ favoriteSymbol NOTIFY trackChanged)
    Q_PROPERTY(QString favoriteHelp READ favoriteHelp NOTIFY trackChanged)
    Q_PROPERTY(QString favoriteLabel READ favoriteLabel NOTIFY trackChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY playbackChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY playbackChanged)
    Q_PROPERTY(QString playSymbol READ playSymbol NOTIFY playbackChanged)
    Q_PROPERTY(QString playLabel READ playLabel NOTIFY playbackChanged)
    Q_PROPERTY(QString elapsedText READ elapsedText NOTIFY timeChanged)
    Q_PROPERTY(QString durationText READ durationText NOTIFY timeChanged)
    Q_PROPERTY(QString footer READ footer NOTIFY footerChanged)
    Q_PROPERTY(QString lyricLine READ lyricLine NOTIFY footerChanged)
    Q_PROPERTY(double volume READ volume NOTIFY volumeChanged)
    Q_PROPERTY(QImage cover READ cover NOTIFY coverChanged)
    Q_PROPERTY(bool hasCover READ hasCover NOTIFY coverChanged)
    Q_PROPERTY(velto::MacSeekSliderModel* seek READ seek CONSTANT)
    Q_PROPERTY(double headerPadding READ headerPaddingValue CONSTANT)
    Q_PROPERTY(double blockHeight READ blockHeightValue CONSTANT)
    Q_PROPERTY(double blockSidePadding READ blockSidePaddingValue CONSTANT)
    Q_PROPERTY(double blockTopPadding READ blockTopPaddingValue CONSTANT)
    Q_PROPERTY(double blockBottomPadding READ blockBottomPaddingValue CONSTANT)
    Q_PROPERTY(velto::NotchMeterModel* meter READ meter CONSTANT)

  public:
    // The header's padding at either side, and the expanded block under it: a fixed height that
    // the window's expanded frame makes room for, with its content padded inside.
    static constexpr double headerPadding = 12;
    static constexpr double blockHeight = 226;
    static constexpr double blockSidePadding = 24;
    static constexpr double blockTopPadding = 14;
    static constexpr double blockBottomPadding = 16;
    static double headerPaddingValue() { return headerPadding; }
    static double blockHeightValue() { return blockHeight; }
    static double blockSidePaddingValue() { return blockSidePadding; }
    static double blockTopPaddingValue() { return blockTopPadding; }
    static double blockBottomPaddingValue() { return blockBottomPadding; }

    NotchPlayerViewModel(NotchWindowController& controller, PlaybackService& playback,
                         TrackListActions* actions, MainQueue& mainQueue, QObject* parent = nullptr);
    ~NotchPlayerViewModel() override;

    // Seconds as the player shows them (clamped, never undefined).
    static QString time(double seconds);

    void setLyrics(std::optional<LyricsDocument> lyrics);
    void setCover(const ArtworkImagePtr& image);

    bool expanded() const { return layout_.expanded; }
    bool hasNotch() const { return layout_.hasNotch; }
    double notchWidth() const { return layout_.notchWidth; }
    double headerHeight() const { return layout_.headerHeight; }
    double topRadius() const { return layout_.topRadius; }
    double bottomRadius() const { return layout_.bottomRadius; }
    QString headerText() const { return layout_.headerText; }
    double headerTracking() const { return layout_.headerTracking; }
    QString headerActionName() const;
    bool pinned() const { return layout_.pinned; }
    QString pinSymbol() const;
    QString pinHelp() const;
    QString pinLabel() const;
    bool hasTrack() const { return track_.hasTrack; }
    QString title() const { return track_.title; }
    QString artist() const { return track_.artist; }
    bool favorite() const { return track_.favorite; }
    bool favoriteEnabled() const { return track_.favoriteEnabled; }
    QString favoriteSymbol() const;
    QString favoriteHelp() const;
    QString favoriteLabel() const;
    bool loading() const { return playback_.loading; }
    bool playing() const { return playback_.playing; }
    QString playSymbol() const;
    QString playLabel() const { return playback_.label; }
    QString elapsedText() const { return time_.elapsed; }
    QString durationText() const { return time_.duration; }
    QString footer() const { return footer_.kind; }
    QString lyricLine() const { return footer_.line; }
    double volume() const { return volume_; }
    QImage cover() const { return cover_; }
    bool hasCover() const { return !cover_.isNull(); }
    MacSeekSliderModel* seek() const { return seek_; }
    NotchMeterModel* meter() const { return meter_; }

    Q_INVOKABLE void hover(bool inside);
    Q_INVOKABLE void headerTapped();
    Q_INVOKABLE void togglePin();
    Q_INVOKABLE void toggleFavorite();
    Q_INVOKABLE void previous();
    Q_INVOKABLE void togglePlayback();
    Q_INVOKABLE void next();
    Q_INVOKABLE void retry();
    Q_INVOKABLE void setVolume(double volume);
    Q_INVOKABLE void openPanel();
    // Both sliders: a drag began or ended.
    Q_INVOKABLE void sliderEditingChanged(bool editing);

  signals:
    void layoutChanged();
    void trackChanged();
    void playbackChanged();
    void timeChanged();
    void footerChanged();
    void volumeChanged();
    void coverChanged();

  private:
    struct Layout {
        bool expanded = false, hasNotch = false, pinned = false;
        double notchWidth = 0, headerHeight = 0, topRadius = 0, bottomRadius = 0, headerTracking = 0;
        QString headerText;
        bool operator==(const Layout&) const = default;
    };
    struct TrackState {
        bool hasTrack = false, favorite = false, favoriteEnabled = false;
        QString title, artist;
        bool operator==(const TrackState&) const = default;
    };
    struct PlaybackState {
        bool loading = false, playing = false, failed = false, requested = false;
        QString label;
        bool operator==(const PlaybackState&) const = default;
    };
    struct TimeState {
        QString elapsed, duration;
        bool operator==(const TimeState&) const = default;
    };
    struct FooterState {
        QString kind, line;
        bool operator==(const FooterState&) const = default;
    };

    void refreshLayout();
    void refreshTrack();
    void refreshPlayback();
    void refreshTime();
    void refreshFooter();
    void refreshVolume();
    template <class T, class Signal>
    void assign(T& field, T value, Signal changed) {
        if (field == value) return;
        field = std::move(value);
        emit(this->*changed)();
    }

    QPointer<NotchWindowController> controller_;
    QPointer<PlaybackService> service_;
    QPointer<TrackListActions> actions_;
    MacSeekSliderModel* seek_;
    NotchMeterModel* meter_;
    std::optional<Track> current_;
    std::optional<LyricsDocument> lyrics_;
    Layout layout_;
    // Held while expanded, where the elapsed text and the lyric line move.
    std::shared_ptr<const void> timeWatch_;  // a PlaybackService::TimeWatch
    TrackState track_;
    PlaybackState playback_;
    TimeState time_;
    FooterState footer_;
    double volume_ = 0;
    QImage cover_;
    ArtworkImagePtr coverSource_;
};

}  // namespace velto
