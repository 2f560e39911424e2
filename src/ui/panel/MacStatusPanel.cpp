#include "ui/panel/MacStatusPanel.h"

#include <QCoreApplication>
#include <algorithm>
#include <map>

#include "app/MacAppModel.h"
#include "app/search/SearchViewModel.h"
#include "foundation/RandomUUID.h"
#include "foundation/files/UserDefaults.h"
#include "library/online/OnlinePlaylistImportService.h"
#include "playback/SleepTimer.h"
#include "ui/views/MacLyricsModel.h"
#include "ui/views/MacPlaybackControlsModel.h"
#include "ui/views/MacSeekSliderModel.h"
#include "ui/style/MacTime.h"
#include "ui/panel/PanelTrackListActions.h"

namespace velto {

namespace {

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), qsizetype(value.size()));
}

constexpr const char* searchHistoryKey = "velto.search.history";

}  // namespace

std::optional<MacStatusPanel::MusicTab> MacStatusPanel::musicTabFromRaw(std::string_view raw) {
    for (MusicTab tab : {MusicTab::search, MusicTab::favorites, MusicTab::lyrics})
        if (rawValue(tab) == raw) return tab;
    return std::nullopt;
}

std::string_view MacStatusPanel::rawValue(MusicTab tab) {
    switch (tab) {
    case MusicTab::search:
        return "search";
    case MusicTab::favorites:
        return "favorites";
    case MusicTab::lyrics:
        return "lyrics";
    }
    return "";
}

MacStatusPanel::MacStatusPanel(MacAppModel& model, MacArtworkLoader* artwork, QObject* parent)
    : QObject(parent),
      model_(model),
      playback_(model.playback()),
      mainQueue_(*model.environment().mainQueue),
      artwork_(artwork) {
    const AppEnvironment& env = model.environment();
    search_ = std::make_unique<SearchViewModel>(*model.runtime(), *env.defaults, mainQueue_,
                                                *env.workers);
    if (env.executor) search_->setBlockingExecutor(env.executor);
    controls_ = new MacPlaybackControlsModel(&playback_, this);
    seek_ = new MacSeekSliderModel(&playback_, mainQueue_, this);
    seek_->setTitle(QStringLiteral("播放进度"));
    seek_->setShown(shown_);  // a closed panel's slider does not follow playback
    lyrics_ = new MacLyricsModel(&playback_, mainQueue_, this);
    songs_ = new PanelSongListModel(artwork, this);
    actions_ = new PanelTrackListActions(model, this);
    catalogServices_ = new MacCatalogServices(model.runtime(), model.runner(), &playback_, actions_,
                                              artwork, this);
    connectModels();
    if (model.lyrics()) lyrics_->setDocument(*model.lyrics());
    refreshSongs();
    refreshLayout();
    refreshStrip();
    refreshTimes();
    refreshMessages();
    refreshSettings();
}

MacStatusPanel::~MacStatusPanel() {
    cancelNoticeTimer();
    cancelRemovalTimers();
}

void MacStatusPanel::connectModels() {
    auto songs = [this] {
        refreshSongs();
        refreshStrip();
        refreshLayout();
        emit resultSummaryChanged();
    };
    auto messages = [this] { refreshMessages(); };
    auto settings = [this] { refreshSettings(); };
    auto lyrics = [this] {
        if (model_.lyrics()) lyrics_->setDocument(*model_.lyrics());
        emit lyricsSectionChanged();
    };
    connect(&model_, &MacAppModel::libraryTracksChanged, this, songs);
    connect(&model_, &MacAppModel::libraryChanged, this, [this, songs, settings] {
        songs();
        settings();
    });
    connect(&model_, &MacAppModel::libraryTracksChanged, this, settings);
    connect(&model_, &MacAppModel::lyricsChanged, this, lyrics);
    connect(&model_, &MacAppModel::libraryFailedChanged, this, messages);
    connect(&model_, &MacAppModel::errorMessageChanged, this, messages);
    connect(&model_, &MacAppModel::noticeChanged, this, [this] {
        refreshMessages();
        restartNoticeTimer();
    });
    connect(&model_, &MacAppModel::notchEnabledChanged, this, [this] {
        emit headerChanged();
        refreshSettings();
    });

    connect(&playback_, &PlaybackService::queueChanged, this, [this, songs] {
        songs();
        emit lyricsSectionChanged();
    });
    connect(&playback_, &PlaybackService::stateChanged, this, messages);
    connect(&playback_, &PlaybackService::elapsedChanged, this, &MacStatusPanel::refreshTimes);
    connect(&playback_, &PlaybackService::durationChanged, this, &MacStatusPanel::refreshTimes);
    for (auto signal : {&PlaybackService::preferredQualityChanged,
                        &PlaybackService::lastActualQualityChanged,
                        &PlaybackService::playbackRateChanged})
        connect(&playback_, signal, this, settings);
    connect(&model_.sleepTimer(), &SleepTimer::remainingTextChanged, this, settings);

    SearchViewModel* s = search_.get();
    for (auto signal : {&SearchViewModel::resultsChanged, &SearchViewModel::selectedScopeChanged,
                        &SearchViewModel::isLoadingChanged, &SearchViewModel::hasLoadedSongsChanged})
        connect(s, signal, this, songs);
    for (auto signal : {&SearchViewModel::artistResultsChanged, &SearchViewModel::albumResultsChanged,
                        &SearchViewModel::playlistResultsChanged, &SearchViewModel::hasSearchedChanged,
                        &SearchViewModel::isLoadingArtistsChanged,
                        &SearchViewModel::isLoadingAlbumsChanged,
                        &SearchViewModel::isLoadingPlaylistsChanged,
                        &SearchViewModel::hasLoadedArtistsChanged,
                        &SearchViewModel::hasLoadedAlbumsChanged,
                        &SearchViewModel::hasLoadedPlaylistsChanged})
        connect(s, signal, this, [this] {
            refreshLayout();
            emit resultSummaryChanged();
        });
    connect(s, &SearchViewModel::errorMessageChanged, this, [this] {
        refreshMessages();
        refreshLayout();
    });
    connect(s, &SearchViewModel::songSourceWarningsChanged, this, messages);
    connect(s, &SearchViewModel::artistExpansionWarningsChanged, this,
            &MacStatusPanel::artistExpansionWarningsChanged);
    connect(s, &SearchViewModel::queryValueChanged, this, [this] {
        // Every edit closes the pages; an uncommitted composition goes no further.
        setCatalogPath({});
        if (composing_) {
            editWaiting_ = true;
            return;
        }
        search_->queryChanged();
    });
    for (auto signal : {&SearchViewModel::queryValueChanged, &SearchViewModel::isLoadingChanged})
        connect(s, signal, this, [this] {
            const bool enabled = searchEnabled();
            if (enabled == searchEnabled_) return;
            searchEnabled_ = enabled;
            emit searchEnabledChanged();
        });
}

// --- State -------------------------------------------------------------------------------------

void MacStatusPanel::setTab(std::optional<MusicTab> tab) {
    if (tab == tab_) return;
    tab_ = tab;
    setSearchFocused(false);
    setCatalogPath({});
    setRemovalFeedback({});
    emit tabChanged();
    if (tab_ == MusicTab::search) focusSearchSoon();
    refreshSongs();
    refreshLayout();
    refreshStrip();
    refreshMessages();
    emit resultSummaryChanged();
}

void MacStatusPanel::setShowsSettings(bool shows) {
    if (shows == showsSettings_) return;
    showsSettings_ = shows;
    if (!shows) setImportPresentation(std::nullopt);
    emit showsSettingsChanged();
    emit headerChanged();
    refreshLayout();
    refreshMessages();
}

void MacStatusPanel::setImportPresentation(std::optional<ImportPresentation> presentation) {
    if (!presentation && !importPresentation_) return;
    importPresentation_ = std::move(presentation);
    // The sheet may be closing itself: it goes once its call has returned.
    if (importSheet_) importSheet_->deleteLater();
    importSheet_ = nullptr;
    if (importPresentation_) {
        MacAppModel* model = &model_;
        importSheet_ = new OnlinePlaylistImportModel(
            model_.onlinePlaylistImporter(), importPresentation_->library, artwork_,
            model_.runner(), [model] { model->reloadLibrary(); }, [this] { closeImport(); }, this);
    }
    emit importPresentationChanged();
    refreshLayout();
}

void MacStatusPanel::setCatalogPath(std::vector<CatalogDestination> path) {
    if (path.empty() && catalogPath_.empty()) return;
    catalogPath_ = std::move(path);
    emit catalogPathChanged();
    refreshLayout();
}

void MacStatusPanel::setSearchFocused(bool focused) {
    if (focused == searchFocused_) return;
    searchFocused_ = focused;
    emit searchFocusedChanged();
}

void MacStatusPanel::setShown(bool shown) {
    if (shown == shown_) return;
    shown_ = shown;
    seek_->setShown(shown);
    watchTime();
    refreshTimes();
    emit shownChanged();
    restartNoticeTimer();
}

void MacStatusPanel::setQualityNotice(std::optional<std::string> notice) {
    if (notice == qualityNotice_) return;
    qualityNotice_ = std::move(notice);
    emit qualityNoticeChanged();
    refreshSettings();
}

// The notice goes 3 s after it was set, unless it changed meanwhile; only a shown panel counts.
void MacStatusPanel::restartNoticeTimer() {
    cancelNoticeTimer();
    if (!shown_ || !model_.notice()) return;
    std::weak_ptr<int> alive = alive_;
    noticeTimer_ = mainQueue_.schedule(noticeDelay, [this, alive, remembered = *model_.notice()] {
        if (alive.expired()) return;
        noticeTimer_.reset();
        noticeTimerFired(remembered);
    });
}

void MacStatusPanel::cancelNoticeTimer() {
    if (noticeTimer_) mainQueue_.cancel(*noticeTimer_);
    noticeTimer_.reset();
}

void MacStatusPanel::noticeTimerFired(const std::string& remembered) {
    if (model_.notice() == remembered) model_.setNotice(std::nullopt);
}

void MacStatusPanel::panelDidClose() {
    setTab(std::nullopt);
    setShowsSettings(false);
    setImportPresentation(std::nullopt);
    setSearchFocused(false);
    setCatalogPath({});
    setRemovalFeedback({});
}

// --- Header, tabs, pages ---------------------------------------------------------------------

void MacStatusPanel::toggleSettings() {
    setShowsSettings(!showsSettings_);
    if (showsSettings_) {
        setTab(std::nullopt);
        setSearchFocused(false);
    }
}

void MacStatusPanel::selectTab(const QString& raw) {
    const auto tab = musicTabFromRaw(raw.toStdString());
    if (!tab) return;
    setShowsSettings(false);
    setTab(tab_ == tab ? std::nullopt : tab);
}

void MacStatusPanel::showNotch() { model_.showNotch(); }

void MacStatusPanel::quit() {
    emit quitRequested();
    QCoreApplication::quit();
}

void MacStatusPanel::setNotchEnabled(bool enabled) { model_.setNotchEnabled(enabled); }

void MacStatusPanel::openCatalog(CatalogDestination destination) {
    setSearchFocused(false);
    auto path = catalogPath_;
    path.push_back(std::move(destination));
    setCatalogPath(std::move(path));
}

void MacStatusPanel::openCatalogValue(const QVariant& destination, const QVariant& from) {
    if (!destination.canConvert<MacCatalogDestination>()) return;
    if (from.canConvert<MacCatalogDestination>() && !catalogPath_.empty())
        catalogPath_.back() = from.value<MacCatalogDestination>();
    openCatalog(destination.value<MacCatalogDestination>());
}

void MacStatusPanel::openArtist(int row) {
    const auto artists = search_->visibleArtistResults();
    if (row >= 0 && std::size_t(row) < artists.size())
        openCatalog(MacCatalogDestination::artist(artists[std::size_t(row)]));
}

void MacStatusPanel::openAlbum(int row) {
    const auto& albums = search_->albumResults();
    if (row >= 0 && std::size_t(row) < albums.size())
        openCatalog(MacCatalogDestination::album(albums[std::size_t(row)]));
}

void MacStatusPanel::openPlaylist(int row) {
    const auto& playlists = search_->playlistResults();
    if (row >= 0 && std::size_t(row) < playlists.size())
        openCatalog(MacCatalogDestination::playlist(playlists[std::size_t(row)]));
}

void MacStatusPanel::closeCatalog() {
    if (catalogPath_.empty()) return;
    auto path = catalogPath_;
    path.pop_back();
    setCatalogPath(std::move(path));
}

QVariant MacStatusPanel::catalogDestination() const {
    return catalogPath_.empty() ? QVariant() : QVariant::fromValue(catalogPath_.back());
}

// --- Search ------------------------------------------------------------------------------------

// Opening the search tab puts the focus into the field, after the field has come up, and loads
// the hot searches once for the model's life.
void MacStatusPanel::focusSearchSoon() {
    std::weak_ptr<int> alive = alive_;
    mainQueue_.post([this, alive] {
        if (alive.expired() || tab_ != MusicTab::search) return;
        setSearchFocused(true);
        search_->loadHotSearchesIfNeeded();
    });
}

void MacStatusPanel::setQuerySearched(bool searched) {
    if (searched == querySearched_) return;
    querySearched_ = searched;
    emit querySearchedChanged();
}

void MacStatusPanel::submitSearch() {
    setQuerySearched(true);
    search_->search(std::nullopt);
}

void MacStatusPanel::pick(const QString& entry, bool fromKeyboard) {
    setQuerySearched(true);
    search_->setQueryText(entry);
    search_->search(std::nullopt);
    if (fromKeyboard) setSearchFocused(true);
}

void MacStatusPanel::clearHistory() {
    model_.environment().defaults->remove(searchHistoryKey);
    search_->setHistory({});
}

void MacStatusPanel::editQuery(const QString& query, bool composing) {
    setQuerySearched(false);
    setComposing(composing);
    search_->setQueryText(query);
}

void MacStatusPanel::setComposing(bool composing) {
    if (composing == composing_) return;
    composing_ = composing;
    // The committed text reaches the search model once the composition ends.
    if (!composing_ && std::exchange(editWaiting_, false)) search_->queryChanged();
}

void MacStatusPanel::editComposition(const QString& preedit) {
    setCatalogPath({});
    setComposing(!preedit.isEmpty());
}

void MacStatusPanel::selectScope(const QString& raw) {
    const auto scope = searchScopeFromRaw(raw.toStdString());
    if (!scope || *scope == search_->selectedScope()) return;
    search_->setSelectedScope(*scope);
    setCatalogPath({});
    search_->loadScopeIfNeeded(*scope);
}

void MacStatusPanel::expandArtists() {
    search_->setArtistResultsExpanded(true);
    search_->loadMoreArtists();
}

void MacStatusPanel::retryArtistExpansion(const QString& raw) {
    if (auto source = musicSourceFromRaw(raw.toStdString())) search_->retryArtistExpansion(*source);
}

bool MacStatusPanel::searchEnabled() const {
    QString trimmed = search_->queryText().trimmed();
    return !trimmed.isEmpty() && !search_->isLoading();
}

// --- Layout ------------------------------------------------------------------------------------

void MacStatusPanel::refreshLayout() {
    Layout next;
    next.divider = showsSettings_ || tab_.has_value();
    if (showsSettings_ && importPresentation_) {
        next.importView = true;
    } else if (showsSettings_) {
        next.settingsPage = true;
        next.messages = true;
    } else {
        next.searchField = tab_ == MusicTab::search;
        next.scopePicker = next.searchField && catalogPath_.empty();
        next.messages = true;
        if (tab_ == MusicTab::lyrics) {
            next.lyrics = true;
        } else if (tab_ == MusicTab::search && !catalogPath_.empty()) {
            next.catalog = true;
        } else if (tab_) {
            next.results = true;
        }
    }
    if (next.results && tab_ == MusicTab::favorites) {
        next.results_kind = "songs";
        next.summary = true;
        if (songs_->count() == 0) next.overlay = "favoritesEmpty";
    } else if (next.results) {
        // The page of the scope shown follows its one state: a count only for an answer, the
        // hint only for an empty one, and a failure shows as the scope's error row alone.
        using State = SearchViewModel::ScopeState;
        const SearchScope scope = search_->selectedScope();
        const State state = search_->scopeState(scope);
        struct Look {
            const char* kind;
            const char* title;
            const char* message;
        };
        static const std::map<SearchScope, Look> looks = {
            {SearchScope::songs, {"songs", "没有找到歌曲", "试试其他关键词。"}},
            {SearchScope::artists, {"artists", "没有找到歌手", "试试完整的歌手名。"}},
            {SearchScope::albums, {"albums", "没有找到专辑", "试试专辑名或歌手名。"}},
            {SearchScope::playlists, {"playlists", "没有找到歌单", "试试歌单名、主题或歌手名。"}}};
        const Look& look = looks.at(scope);
        const bool discovery = scope == SearchScope::songs && !search_->hasSearched();
        next.results_kind = discovery ? "discovery" : look.kind;
        next.summary = !discovery && (state == State::empty || state == State::results);
        if (discovery) {
        } else if (state == State::loading) {
            next.overlay = "loading";
        } else if (state == State::empty) {
            next.overlay = "hint";
            next.hintTitle = look.title;
            next.hintMessage = look.message;
        }
    }
    if (next == layout_ && !layoutValue_.isEmpty()) return;
    const bool lyricsToggled = next.lyrics != layout_.lyrics;
    layout_ = next;
    // The lyrics page starts from where playback is now, and then ticks the clock by its lines.
    if (lyricsToggled) watchTime();
    layoutValue_ = {{"divider", next.divider},
                    {"importView", next.importView},
                    {"settingsPage", next.settingsPage},
                    {"searchField", next.searchField},
                    {"scopePicker", next.scopePicker},
                    {"messages", next.messages},
                    {"lyrics", next.lyrics},
                    {"catalog", next.catalog},
                    {"results", next.results},
                    {"summary", next.summary},
                    {"resultsKind", text(next.results_kind)},
                    {"overlay", text(next.overlay)},
                    {"hintTitle", text(next.hintTitle)},
                    {"hintMessage", text(next.hintMessage)}};
    emit layoutChanged();
}

QString MacStatusPanel::tabText() const { return tab_ ? text(rawValue(*tab_)) : QString(); }

QVariantList MacStatusPanel::tabButtons() const {
    struct Look {
        MusicTab tab;
        const char* label;
        const char* symbol;
    };
    static const Look looks[] = {{MusicTab::search, "搜索", "magnifyingglass"},
                                 {MusicTab::favorites, "播放列表", "music.note.list"},
                                 {MusicTab::lyrics, "歌词", "quote.bubble"}};
    QVariantList buttons;
    for (const Look& look : looks) {
        const bool selected = tab_ == look.tab;
        buttons.push_back(QVariantMap{
            {"id", text(rawValue(look.tab))},
            {"label", QString::fromUtf8(look.label)},
            {"symbol", QString::fromUtf8(look.symbol)},
            {"selected", selected},
            {"help", QString::fromUtf8(selected ? "收起" : "显示") + QString::fromUtf8(look.label)}});
    }
    return buttons;
}

QString MacStatusPanel::importPresentationID() const {
    return importPresentation_ ? text(importPresentation_->id) : QString();
}

QVariantMap MacStatusPanel::headerValue() const {
    return {{"notchHelp", model_.notchEnabled() ? QStringLiteral("展开灵动岛")
                                                : QStringLiteral("启用并展开灵动岛")},
            {"settingsHelp", showsSettings_ ? QStringLiteral("关闭设置") : QStringLiteral("打开设置")},
            {"settingsActive", showsSettings_}};
}

void MacStatusPanel::watchTime() {
    if (!shown_) {
        timeWatch_.reset();
        return;
    }
    timeWatch_ = playback_.watchTime([this](double elapsed) {
        const double second = nextMacTimeChange(elapsed);
        return layout_.lyrics ? std::min(second, lyrics_->nextLineTime(elapsed)) : second;
    });
}

// A closed panel's times are brought up to date when it shows again.
void MacStatusPanel::refreshTimes() {
    if (!shown_) return;
    const QString elapsed = text(macTime(playback_.elapsed()));
    const QString duration = text(macTime(playback_.duration()));
    if (elapsed == elapsedText_ && duration == durationText_) return;
    elapsedText_ = elapsed;
    durationText_ = duration;
    emit timesChanged();
}

QVariantMap MacStatusPanel::lyricsEmptyValue() const {
    const bool playing = currentTrack().has_value();
    return {{"title", playing ? QStringLiteral("暂无歌词") : QStringLiteral("尚未播放")},
            {"message", playing ? QStringLiteral("正在等待这首歌的歌词。")
                                : QStringLiteral("选择一首歌后，这里会显示同步歌词。")}};
}

bool MacStatusPanel::hasLyricLines() const {
    return model_.lyrics() && !model_.lyrics()->lines().empty();
}

QObject* MacStatusPanel::modelObject() const { return &model_; }
QObject* MacStatusPanel::controlsObject() const { return controls_; }
QObject* MacStatusPanel::seekObject() const { return seek_; }
QObject* MacStatusPanel::lyricsObject() const { return lyrics_; }

}  // namespace velto
