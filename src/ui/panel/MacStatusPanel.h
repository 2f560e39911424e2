#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MacCatalogDestination.h"
#include "app/search/SearchViewModel.h"
#include "foundation/MainQueue.h"
#include "playback/PlaybackService.h"
#include "sources/model/Quality.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/Track.h"
#include "ui/views/MacCatalogServices.h"
#include "ui/views/OnlinePlaylistImportModel.h"
#include "ui/panel/PanelSongListModel.h"

namespace velto {

class LibraryStore;
class MacAppModel;
class MacArtworkLoader;
class MacLyricsModel;
class MacPlaybackControlsModel;
class MacSeekSliderModel;
class PanelTrackListActions;

// The popup's content: the panel's own navigation state and everything its sections show,
// derived from the application, playback and search models. Made once by the delegate and kept
// for the program's life; every change happens on the main thread, and its delays run on the
// application's main queue.
class MacStatusPanel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* model READ modelObject CONSTANT)
    Q_PROPERTY(velto::SearchViewModel* search READ searchModel CONSTANT)
    Q_PROPERTY(QObject* controls READ controlsObject CONSTANT)
    Q_PROPERTY(QObject* seek READ seekObject CONSTANT)
    Q_PROPERTY(QObject* lyrics READ lyricsObject CONSTANT)
    Q_PROPERTY(velto::MacArtworkLoader* artworkLoader READ artworkLoader CONSTANT)
    Q_PROPERTY(QAbstractListModel* displayedTracks READ displayedTracksModel CONSTANT)
    Q_PROPERTY(QString tab READ tabText NOTIFY tabChanged)
    Q_PROPERTY(QVariantList tabs READ tabButtons NOTIFY tabChanged)
    Q_PROPERTY(bool showsSettings READ showsSettings NOTIFY showsSettingsChanged)
    Q_PROPERTY(QString importPresentationID READ importPresentationID NOTIFY importPresentationChanged)
    Q_PROPERTY(int catalogDepth READ catalogDepth NOTIFY catalogPathChanged)
    Q_PROPERTY(QVariant catalogDestination READ catalogDestination NOTIFY catalogPathChanged)
    Q_PROPERTY(velto::MacCatalogServices* catalogServices READ catalogServices CONSTANT)
    Q_PROPERTY(velto::OnlinePlaylistImportModel* importSheet READ importSheet NOTIFY importPresentationChanged)
    Q_PROPERTY(bool searchFocused READ searchFocused WRITE setSearchFocused NOTIFY searchFocusedChanged)
    Q_PROPERTY(bool shown READ shown WRITE setShown NOTIFY shownChanged)
    Q_PROPERTY(QVariantMap layout READ layoutValue NOTIFY layoutChanged)
    Q_PROPERTY(QVariantMap header READ headerValue NOTIFY headerChanged)
    Q_PROPERTY(QVariantMap strip READ stripValue NOTIFY stripChanged)
    Q_PROPERTY(QString elapsedText READ elapsedText NOTIFY timesChanged)
    Q_PROPERTY(QString durationText READ durationText NOTIFY timesChanged)
    Q_PROPERTY(QString resultSummary READ resultSummaryText NOTIFY resultSummaryChanged)
    Q_PROPERTY(QVariantList artistExpansionWarnings READ artistExpansionWarningRows NOTIFY artistExpansionWarningsChanged)
    Q_PROPERTY(bool libraryRow READ libraryRow NOTIFY messagesChanged)
    Q_PROPERTY(QVariantMap message READ messageValue NOTIFY messagesChanged)
    Q_PROPERTY(QVariantMap lyricsEmpty READ lyricsEmptyValue NOTIFY lyricsSectionChanged)
    Q_PROPERTY(bool hasLyrics READ hasLyricLines NOTIFY lyricsSectionChanged)
    Q_PROPERTY(QVariantMap settings READ settingsValue NOTIFY settingsChanged)
    Q_PROPERTY(QStringList qualityLabels READ qualityLabels CONSTANT)
    Q_PROPERTY(QStringList rateLabels READ rateLabels CONSTANT)
    Q_PROPERTY(QStringList sleepLabels READ sleepLabels CONSTANT)
    Q_PROPERTY(bool searchEnabled READ searchEnabled NOTIFY searchEnabledChanged)
    // The field shows the query of a search run, not yet edited: it stays selected, so that
    // what is typed next replaces it.
    Q_PROPERTY(bool querySearched READ querySearched NOTIFY querySearchedChanged)

  public:
    enum class MusicTab { search, favorites, lyrics };
    static std::optional<MusicTab> musicTabFromRaw(std::string_view raw);
    static std::string_view rawValue(MusicTab tab);

    struct ImportPresentation {
        std::string id;
        std::shared_ptr<LibraryStore> library;
    };
    struct FavoriteRemovalFeedback {
        Track track;
        int index = 0;
    };
    using CatalogDestination = MacCatalogDestination;

    // What the content rule shows below the strip.
    struct Layout {
        bool divider = false;
        bool importView = false;
        bool settingsPage = false;
        bool searchField = false;
        bool scopePicker = false;
        bool messages = false;
        bool lyrics = false;
        bool catalog = false;
        bool results = false;
        bool summary = false;
        // The results box: "songs", "discovery", "artists", "albums", "playlists".
        std::string results_kind;
        // Over the box: "loading", "hint", "favoritesEmpty" or nothing.
        std::string overlay;
        std::string hintTitle;
        std::string hintMessage;
        bool operator==(const Layout&) const = default;
    };

    struct MessageRow {
        enum class Kind { settingsError, settingsNotice, compact, error, notice };
        enum class Action { closeError, closeNotice, retryPlayback, submitSearch, retrySource };
        Kind kind = Kind::notice;
        std::string text;
        Action action = Action::closeNotice;
        std::optional<MusicSource> source;
        bool operator==(const MessageRow&) const = default;
    };

    static constexpr MainQueue::Duration noticeDelay = std::chrono::seconds(3);
    static constexpr MainQueue::Duration removalDelay = std::chrono::milliseconds(800);
    static const std::vector<float> playbackRates;
    static const std::vector<int> sleepMinutes;

    // `artwork` may be null (placeholders); it must outlive the panel.
    explicit MacStatusPanel(MacAppModel& model, MacArtworkLoader* artwork = nullptr,
                            QObject* parent = nullptr);
    ~MacStatusPanel() override;

    // --- State ---------------------------------------------------------------------------------
    std::optional<MusicTab> tab() const { return tab_; }
    bool showsSettings() const { return showsSettings_; }
    const std::optional<ImportPresentation>& importPresentation() const { return importPresentation_; }
    const std::map<std::string, FavoriteRemovalFeedback>& removalFeedback() const {
        return removalFeedback_;
    }
    const std::vector<CatalogDestination>& catalogPath() const { return catalogPath_; }
    const std::optional<std::string>& qualityNotice() const { return qualityNotice_; }
    bool searchFocused() const { return searchFocused_; }
    void setSearchFocused(bool focused);
    bool shown() const { return shown_; }
    // The popup showing or hiding; the notice timer runs only while shown.
    void setShown(bool shown);
    SearchViewModel& search() const { return *search_; }

    // --- Derived -------------------------------------------------------------------------------
    std::vector<Track> tracks() const;
    std::vector<Track> displayedTracks() const;
    const Layout& layout() const { return layout_; }
    std::string resultSummary() const;
    // What the summary counts: favourites, or the results of the search scope shown.
    std::size_t resultCount() const;
    static std::string artistMeta(const ArtistSummary& artist);
    std::vector<MusicSource> artistExpansionWarningSources() const;
    bool libraryRow() const;
    const std::optional<MessageRow>& message() const { return message_; }
    // The rate entry showing the service's rate, or none; and the label shown for the rate.
    std::optional<std::size_t> rateIndex() const;
    static std::string rateLabel(double rate);
    static std::string qualityLabel(Quality quality);

    // --- Operations ----------------------------------------------------------------------------
    Q_INVOKABLE void toggleSettings();
    Q_INVOKABLE void selectTab(const QString& tab);
    Q_INVOKABLE void showNotch();
    Q_INVOKABLE void quit();
    // A tap on a row of the song list, at its place in displayedTracks.
    void play(const Track& track, int at);
    Q_INVOKABLE void playRow(int row);
    void toggleFavorite(const Track& track);
    Q_INVOKABLE void toggleFavoriteRow(int row);
    Q_INVOKABLE void toggleCurrentFavorite();
    Q_INVOKABLE void finishRemovalFeedback(const QString& key);
    void finishRemovalFeedback(const std::string& key);
    void openCatalog(CatalogDestination destination);
    // The catalog page's push: a destination it was handed, and the place on top as its page
    // was left (shown so again on the way back).
    Q_INVOKABLE void openCatalogValue(const QVariant& destination, const QVariant& from = {});
    Q_INVOKABLE void openArtist(int visibleRow);
    Q_INVOKABLE void openAlbum(int row);
    Q_INVOKABLE void openPlaylist(int row);
    Q_INVOKABLE void closeCatalog();
    Q_INVOKABLE void submitSearch();
    // A suggestion, history or hot-search entry; one picked from the keyboard hands the focus
    // back to the field, which shows the entry, as the control that took the key goes.
    Q_INVOKABLE void pick(const QString& text, bool fromKeyboard = false);
    Q_INVOKABLE void clearHistory();
    // The field's text; `composing` while the input method holds an uncommitted pre-edit.
    Q_INVOKABLE void editQuery(const QString& text, bool composing);
    Q_INVOKABLE void setComposing(bool composing);
    // The input method's pre-edit text changed: an edit of the field like any other for the
    // pages, though the search waits for the commit.
    Q_INVOKABLE void editComposition(const QString& preedit);
    Q_INVOKABLE void selectScope(const QString& scope);
    Q_INVOKABLE void expandArtists();
    Q_INVOKABLE void retryArtistExpansion(const QString& source);
    // The button of a message row: "retryLibrary", "exportRecovery" or the row's action.
    Q_INVOKABLE void messageAction(const QString& action);
    Q_INVOKABLE void openOnlineImport();
    Q_INVOKABLE void closeImport();
    void applyQuality(Quality quality);
    Q_INVOKABLE void applyQualityAt(int index);
    Q_INVOKABLE void setRateAt(int index);
    Q_INVOKABLE void stopSleepTimer();
    Q_INVOKABLE void startSleepTimerAt(int index);
    Q_INVOKABLE void setNotchEnabled(bool enabled);
    // The popup closed: navigation back to the compact panel; search and quality notice stay.
    Q_INVOKABLE void panelDidClose();

    // --- Qt faces ------------------------------------------------------------------------------
    QObject* modelObject() const;
    SearchViewModel* searchModel() const { return search_.get(); }
    QObject* controlsObject() const;
    QObject* seekObject() const;
    QObject* lyricsObject() const;
    MacArtworkLoader* artworkLoader() const { return artwork_; }
    QAbstractListModel* displayedTracksModel() const { return songs_; }
    PanelSongListModel& songList() const { return *songs_; }
    QString tabText() const;
    QVariantList tabButtons() const;
    QString importPresentationID() const;
    int catalogDepth() const { return int(catalogPath_.size()); }
    QVariant catalogDestination() const;
    MacCatalogServices* catalogServices() const { return catalogServices_; }
    // The import sheet of the current presentation; a new presentation gets a new one.
    OnlinePlaylistImportModel* importSheet() const { return importSheet_; }
    QVariantMap layoutValue() const { return layoutValue_; }
    QVariantMap headerValue() const;
    QVariantMap stripValue() const { return stripValue_; }
    QString elapsedText() const { return elapsedText_; }
    QString durationText() const { return durationText_; }
    QString resultSummaryText() const { return QString::fromStdString(resultSummary()); }
    QVariantList artistExpansionWarningRows() const;
    Q_INVOKABLE QString artistMetaAt(int visibleRow) const;
    // The author, or the source's name when the playlist names none.
    Q_INVOKABLE QString playlistSubtitleAt(int row) const;
    QVariantMap messageValue() const;
    QVariantMap lyricsEmptyValue() const;
    bool hasLyricLines() const;
    QVariantMap settingsValue() const { return settingsValue_; }
    static QStringList qualityLabels();
    static QStringList rateLabels();
    static QStringList sleepLabels();
    bool searchEnabled() const;
    bool querySearched() const { return querySearched_; }

  signals:
    void tabChanged();
    void showsSettingsChanged();
    void importPresentationChanged();
    void removalFeedbackChanged();
    void catalogPathChanged();
    void qualityNoticeChanged();
    void searchFocusedChanged();
    void shownChanged();
    void layoutChanged();
    void headerChanged();
    void stripChanged();
    void timesChanged();
    void resultSummaryChanged();
    void artistExpansionWarningsChanged();
    void messagesChanged();
    void lyricsSectionChanged();
    void settingsChanged();
    void searchEnabledChanged();
    void querySearchedChanged();
    void quitRequested();

  private:
    void connectModels();
    void setTab(std::optional<MusicTab> tab);
    void setShowsSettings(bool shows);
    void setImportPresentation(std::optional<ImportPresentation> presentation);
    void setCatalogPath(std::vector<CatalogDestination> path);
    void setRemovalFeedback(std::map<std::string, FavoriteRemovalFeedback> feedback);
    void setQualityNotice(std::optional<std::string> notice);
    void focusSearchSoon();
    void setQuerySearched(bool searched);
    void restartNoticeTimer();
    void cancelNoticeTimer();
    void noticeTimerFired(const std::string& remembered);
    void scheduleRemovalEnd(const std::string& key);
    void cancelRemovalTimers();

    void refreshSongs();
    void refreshLayout();
    void refreshStrip();
    void refreshTimes();
    void watchTime();
    void refreshMessages();
    void refreshSettings();
    std::optional<MessageRow> chooseMessage() const;
    std::optional<Track> currentTrack() const;

    MacAppModel& model_;
    PlaybackService& playback_;
    MainQueue& mainQueue_;
    MacArtworkLoader* artwork_;
    std::unique_ptr<SearchViewModel> search_;
    MacPlaybackControlsModel* controls_;
    MacSeekSliderModel* seek_;
    MacLyricsModel* lyrics_;
    PanelSongListModel* songs_;
    PanelTrackListActions* actions_;
    MacCatalogServices* catalogServices_;
    OnlinePlaylistImportModel* importSheet_ = nullptr;

    std::optional<MusicTab> tab_;
    bool showsSettings_ = false;
    std::optional<ImportPresentation> importPresentation_;
    std::map<std::string, FavoriteRemovalFeedback> removalFeedback_;
    std::map<std::string, MainQueue::TimerId> removalTimers_;
    std::vector<CatalogDestination> catalogPath_;
    std::optional<std::string> qualityNotice_;
    std::uint64_t qualityPick_ = 0;
    bool searchFocused_ = false;
    bool querySearched_ = false;
    bool shown_ = false;
    bool composing_ = false;
    bool holdingSongs_ = false;
    bool editWaiting_ = false;
    std::optional<MainQueue::TimerId> noticeTimer_;

    Layout layout_;
    QVariantMap layoutValue_;
    QVariantMap stripValue_;
    QString elapsedText_;
    QString durationText_;
    // Held while shown, for the elapsed time's next second and the lyrics page's next line.
    PlaybackService::TimeWatch timeWatch_;
    std::optional<MessageRow> message_;
    bool libraryRow_ = false;
    QVariantMap settingsValue_;
    QString summary_;
    QVariantList warnings_;
    QVariantMap lyricsEmpty_;
    bool hasLyrics_ = false;
    bool searchEnabled_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velto
