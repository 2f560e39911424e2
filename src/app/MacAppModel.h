#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "app/AppEnvironment.h"
#include "app/AppTaskRunner.h"
#include "artwork/ArtworkImage.h"
#include "playback/LyricsDocument.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/Track.h"

namespace velto {

class ArtworkService;
class ChkszAPIClient;
class CredentialStore;
class LibraryStore;
class NotchController;
class OnlinePlaylistImportService;
class PlaybackService;
class PlaybackURLResolving;
class SleepTimer;
class SourceRuntime;
class TrackDetailRefreshCoordinator;
class VeltoModelContainer;

// The one application model: builds and owns the service graph, plays lists, and keeps the
// current song's cover and lyrics in step with playback. Lives on the main thread; its
// waiting work runs on workers and comes back through the main queue to a model that may be
// gone by then.
class MacAppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool libraryOpen READ libraryOpen NOTIFY libraryChanged)
    Q_PROPERTY(QVariantList libraryTracks READ libraryTrackValues NOTIFY libraryTracksChanged)
    Q_PROPERTY(QVariantList recentTracks READ recentTrackValues NOTIFY recentTracksChanged)
    Q_PROPERTY(bool hasLyrics READ hasLyrics NOTIFY lyricsChanged)
    Q_PROPERTY(QVariantList lyricLines READ lyricLineValues NOTIFY lyricsChanged)
    Q_PROPERTY(QVariantList translatedLyricLines READ translatedLyricLineValues NOTIFY lyricsChanged)
    Q_PROPERTY(QString artworkURL READ artworkURL NOTIFY artworkChanged)
    Q_PROPERTY(bool libraryFailed READ libraryFailed NOTIFY libraryFailedChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText WRITE setErrorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(QString notice READ noticeText WRITE setNoticeText NOTIFY noticeChanged)
    Q_PROPERTY(bool notchEnabled READ notchEnabled WRITE setNotchEnabled NOTIFY notchEnabledChanged)
    Q_PROPERTY(QString playbackActionTitle READ playbackActionTitleText NOTIFY playbackActionTitleChanged)
    Q_PROPERTY(QObject* playback READ playbackObject CONSTANT)
    Q_PROPERTY(QObject* sleepTimer READ sleepTimerObject CONSTANT)

  public:
    static constexpr const char* notchEnabledKey = "macNotchEnabled";
    static constexpr const char* storeFileName = "Velto.store";
    static constexpr int recentPlaysLimit = 100;
    // Local songs stored per turn of the main thread.
    static constexpr std::size_t localImportBatch = 100;

    // The cover shown for the current song: the picture, and its cache file for those who
    // take an address (QML, Now Playing). Equal when it is the same picture.
    struct Cover {
        ArtworkImagePtr image;
        std::string fileURL;
        bool operator==(const Cover&) const = default;
    };

    explicit MacAppModel(AppEnvironment environment, QObject* parent = nullptr);
    ~MacAppModel() override;
    MacAppModel(const MacAppModel&) = delete;
    MacAppModel& operator=(const MacAppModel&) = delete;

    // What the end of the program keeps (the place in the song, every setting), on the disk
    // when it returns: for an end of the program that ends no object.
    void saveForEnd();

    // Constant services the views use directly.
    const std::shared_ptr<SourceRuntime>& runtime() const { return runtime_; }
    PlaybackService& playback() const { return *playback_; }
    // Absent when it could not be made: covers then stay empty.
    const std::shared_ptr<ArtworkService>& artworkService() const { return artworkService_; }
    const std::shared_ptr<OnlinePlaylistImportService>& onlinePlaylistImporter() const {
        return onlinePlaylistImporter_;
    }
    const std::shared_ptr<LibraryStore>& library() const { return library_; }
    std::filesystem::path storePath() const;
    SleepTimer& sleepTimer() const { return *sleepTimer_; }
    const AppEnvironment& environment() const { return environment_; }
    AppTaskRunner runner() const { return runner_; }

    // Opens the store unless it is open; a failure only sets libraryFailed.
    Q_INVOKABLE void retryLibrary();
    // Re-reads the favourites and the recent plays.
    Q_INVOKABLE void reloadLibrary();

    // The models behind an artist's and an album's page, over the application's runtime. From
    // QML the page owns what it gets (no parent: the engine takes ownership); none for a value
    // that is not an ArtistValue / AlbumValue.
    Q_INVOKABLE QObject* makeArtistDetailModel(const QVariant& artist) const;
    Q_INVOKABLE QObject* makeAlbumDetailModel(const QVariant& album) const;

    // Launch work, once: the launch mark, the notch player, the saved position restored
    // (loaded, not played).
    Q_INVOKABLE void start();
    // Switches the notch player on and opens it with keyboard focus.
    Q_INVOKABLE void showNotch();

    // Plays `tracks` from `index` (out of range: nothing). `done` runs once the song is loaded.
    void play(const std::vector<Track>& tracks, std::ptrdiff_t index, std::function<void()> done = {});
    Q_INVOKABLE void play(const QVariantList& tracks, int index);
    // Plays the favourites from `index`, tying the queue to the personal playlist.
    void playFavorites(std::ptrdiff_t index, std::function<void()> done);
    Q_INVOKABLE void playFavorites(int index) { playFavorites(index, {}); }
    bool isFavorite(const Track& track) const;
    void collect(const Track& track);
    void removeFavorite(const Track& track);
    Q_INVOKABLE bool isFavorite(const QVariant& track) const;
    Q_INVOKABLE void collect(const QVariant& track);
    Q_INVOKABLE void removeFavorite(const QVariant& track);

    // Files, through the chooser; each reports through notice or errorMessage.
    Q_INVOKABLE void importLocalMusic();
    Q_INVOKABLE void importBackup();
    Q_INVOKABLE void exportBackup();
    Q_INVOKABLE void exportRecovery();

    // Observable state.
    const std::vector<Track>& libraryTracks() const { return libraryTracks_; }
    const std::vector<Track>& recentTracks() const { return recentTracks_; }
    const std::optional<LyricsDocument>& lyrics() const { return lyrics_; }
    const std::optional<Cover>& artwork() const { return artwork_; }
    bool libraryOpen() const { return library_ != nullptr; }
    bool libraryFailed() const { return libraryFailed_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    const std::optional<std::string>& notice() const { return notice_; }
    void setErrorMessage(std::optional<std::string> message);
    void setNotice(std::optional<std::string> message);
    bool notchEnabled() const { return notchEnabled_; }
    // Every write, also of the same value, stores the setting and tells the notch controller.
    void setNotchEnabled(bool enabled);
    std::string playbackActionTitle() const;
    NotchController* notchController() const { return notchController_.get(); }

    QVariantList libraryTrackValues() const;
    QVariantList recentTrackValues() const;
    bool hasLyrics() const { return lyrics_.has_value(); }
    QVariantList lyricLineValues() const;
    QVariantList translatedLyricLineValues() const;
    QString artworkURL() const;
    QString errorMessageText() const;
    void setErrorMessageText(const QString& text);
    QString noticeText() const;
    void setNoticeText(const QString& text);
    QString playbackActionTitleText() const { return QString::fromStdString(playbackActionTitle()); }
    QObject* playbackObject() const;
    QObject* sleepTimerObject() const;

  signals:
    void libraryChanged();
    void libraryTracksChanged();
    void recentTracksChanged();
    void lyricsChanged();
    void artworkChanged();
    void libraryFailedChanged();
    void errorMessageChanged();
    void noticeChanged();
    void notchEnabledChanged();
    void playbackActionTitleChanged();

  private:
    struct SongLoad;

    void observePlayback();
    void scheduleSynchronize();
    void synchronizePlayback();
    void startSongLoad(const Track& song, const std::string& key);
    void askCover(const std::shared_ptr<SongLoad>& load);
    void lateCoverArrived(const std::string& key);
    void coverArrived(const std::shared_ptr<SongLoad>& load, std::optional<Cover> cover);
    void finishSongLoad(const std::shared_ptr<SongLoad>& load);
    void publishCoverFile(const std::shared_ptr<SongLoad>& load, const Cover& cover);
    void setLyrics(std::optional<LyricsDocument> lyrics);
    void setArtwork(std::optional<Cover> cover);
    void refreshDetails(const std::shared_ptr<SongLoad>& load);
    void recordRecentPlay(const Track& song, const std::string& key);
    void setLibraryFailed(bool failed);
    void startQueue(const std::vector<Track>& tracks, std::ptrdiff_t index,
                    std::optional<std::string> playlistID, std::function<void()> done);
    struct LocalImport;
    void storeScannedSongs(const std::shared_ptr<LibraryStore>& store, std::vector<Track> songs);
    void storeNextBatch(const std::shared_ptr<LocalImport>& import);
    void save(std::string data, std::string name, std::optional<std::string> successMessage);
    void announcePlaybackActionTitle();
    template <class T, class Signal>
    void assign(T& field, T value, Signal changed) {
        if (field == value) return;
        field = std::move(value);
        emit(this->*changed)();
    }

    AppEnvironment environment_;
    AppTaskRunner runner_;
    std::shared_ptr<SleepTimer> sleepTimer_;
    std::shared_ptr<CredentialStore> credentials_;
    std::shared_ptr<ChkszAPIClient> rovozAPI_;
    std::shared_ptr<SourceRuntime> runtime_;
    std::shared_ptr<PlaybackURLResolving> resolver_;
    std::unique_ptr<PlaybackService> playback_;
    std::shared_ptr<ArtworkService> artworkService_;
    std::shared_ptr<void> lateCovers_;
    std::shared_ptr<OnlinePlaylistImportService> onlinePlaylistImporter_;
    std::unique_ptr<TrackDetailRefreshCoordinator> detailRefresh_;
    std::shared_ptr<VeltoModelContainer> container_;
    std::shared_ptr<LibraryStore> library_;

    std::vector<Track> libraryTracks_;
    std::vector<Track> recentTracks_;
    std::optional<LyricsDocument> lyrics_;
    std::optional<Cover> artwork_;
    bool libraryFailed_ = false;
    std::optional<std::string> errorMessage_;
    std::optional<std::string> notice_;
    bool notchEnabled_ = true;
    std::string shownActionTitle_;

    bool started_ = false;
    std::unique_ptr<NotchController> notchController_;
    std::shared_ptr<SongLoad> detailTask_;
    std::optional<std::string> observedTrackID_;
    std::optional<std::string> recordedTrackID_;
    bool synchronizeScheduled_ = false;
    std::stop_source lifetime_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velto
