#include "app/search/SearchViewModel.h"

#include <algorithm>
#include <iterator>

#include "app/search/SearchErrorText.h"
#include "app/search/SearchHistoryStore.h"
#include "app/search/SearchResultRanker.h"
#include "app/search/SearchTextFolding.h"
#include "foundation/Cancellation.h"

namespace velto {

namespace {

void finish(const SearchViewModel::Done& done) {
    if (done) done();
}

QStringList toQt(const std::vector<std::string>& list) {
    QStringList out;
    out.reserve(qsizetype(list.size()));
    for (const auto& text : list) out.append(QString::fromStdString(text));
    return out;
}

template <class Sources>
QStringList rawValues(const Sources& sources) {
    QStringList out;
    for (auto source : sources) out.append(QString::fromUtf8(rawValue(source).data(), qsizetype(rawValue(source).size())));
    return out;
}

QString optionalText(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(*text) : QString();
}

QVariant optionalValue(const std::optional<std::string>& text) {
    return text ? QVariant(QString::fromStdString(*text)) : QVariant();
}

QVariant optionalValue(const std::optional<std::int64_t>& number) {
    return number ? QVariant(qint64(*number)) : QVariant();
}

QString sourceText(MusicSource source) {
    auto raw = rawValue(source);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QVariantMap row(const SearchResultRanker::ScoredSong& entry) {
    const Track& track = entry.song;
    auto name = displayName(track.source);
    return {{"musicID", QString::fromStdString(track.musicID())},
            {"title", QString::fromStdString(track.title)},
            {"artist", QString::fromStdString(track.artist)},
            {"album", QString::fromStdString(track.album)},
            {"interval", optionalValue(track.interval)},
            {"source", sourceText(track.source)},
            {"sourceName", QString::fromUtf8(name.data(), qsizetype(name.size()))},
            {"isPlayable", entry.playable}};
}

QVariantMap row(const ArtistSummary& artist) {
    return {{"stableID", QString::fromStdString(artist.stableID())},
            {"id", QString::fromStdString(artist.id)},
            {"name", QString::fromStdString(artist.name)},
            {"imageURL", optionalValue(artist.imageURL)},
            {"songCount", optionalValue(artist.songCount)},
            {"albumCount", optionalValue(artist.albumCount)},
            {"source", sourceText(artist.source)}};
}

QVariantMap row(const AlbumSummary& album) {
    return {{"stableID", QString::fromStdString(album.stableID())},
            {"id", QString::fromStdString(album.id)},
            {"name", QString::fromStdString(album.name)},
            {"artist", QString::fromStdString(album.artist)},
            {"imageURL", optionalValue(album.imageURL)},
            {"releaseDate", optionalValue(album.releaseDate)},
            {"trackCount", optionalValue(album.trackCount)},
            {"source", sourceText(album.source)}};
}

QVariantMap row(const PlaylistSummary& playlist) {
    return {{"key", QString::fromStdString(playlist.key())},
            {"id", QString::fromStdString(playlist.id)},
            {"name", QString::fromStdString(playlist.name)},
            {"img", optionalValue(playlist.img)},
            {"author", QString::fromStdString(playlist.author)},
            {"playCount", QString::fromStdString(playlist.playCount)},
            {"total", optionalValue(playlist.total)},
            {"desc", optionalValue(playlist.desc)},
            {"time", optionalValue(playlist.time)},
            {"source", sourceText(playlist.source)}};
}

template <class Record>
std::vector<QVariantMap> rows(const std::vector<Record>& records) {
    std::vector<QVariantMap> out;
    out.reserve(records.size());
    for (const auto& record : records) out.push_back(row(record));
    return out;
}

std::size_t searchSourcePosition(MusicSource source) {
    const auto& sources = MusicSources::searchSources;
    return std::size_t(std::find(sources.begin(), sources.end(), source) - sources.begin());
}

}  // namespace

const std::vector<std::string> SearchViewModel::defaultHotSearches = {
    "晴天", "一路向北", "起风了", "海阔天空", "稻香", "富士山下",
    "七里香", "后来", "若月亮没来", "爱错", "唯一", "珠玉"};

SearchViewModel::SearchViewModel(SourceRuntime& runtime, UserDefaults& defaults,
                                 MainQueue& mainQueue, WorkerPool& workers, QObject* parent)
    : QObject(parent),
      runtime_(runtime),
      defaults_(defaults),
      mainQueue_(mainQueue),
      executor_([&workers](std::function<void()> job) { workers.submit(std::move(job)); }),
      history_(SearchHistoryStore::stored(defaults)) {
    const QList<QByteArray> trackRoles = {"musicID", "title",      "artist",    "album",
                                          "interval", "source", "sourceName", "isPlayable"};
    const QList<QByteArray> artistRoles = {"stableID", "id", "name", "imageURL",
                                           "songCount", "albumCount", "source"};
    const QList<QByteArray> albumRoles = {"stableID", "id", "name", "artist",
                                          "imageURL", "releaseDate", "trackCount", "source"};
    const QList<QByteArray> playlistRoles = {"key", "id", "name", "img", "author",
                                             "playCount", "total", "desc", "time", "source"};
    resultsModel_ = new SearchResultListModel(trackRoles, this);
    artistResultsModel_ = new SearchResultListModel(artistRoles, this);
    albumResultsModel_ = new SearchResultListModel(albumRoles, this);
    playlistResultsModel_ = new SearchResultListModel(playlistRoles, this);
    visibleArtistResultsModel_ = new SearchResultListModel(artistRoles, this);
    // The shown suggestions follow both the list and the query, and announce only real changes.
    auto refreshShown = [this] {
        auto shown = shownSuggestions();
        if (shown == shownSuggestions_) return;
        shownSuggestions_ = std::move(shown);
        emit shownSuggestionsChanged();
    };
    connect(this, &SearchViewModel::suggestionsChanged, this, refreshShown);
    connect(this, &SearchViewModel::queryValueChanged, this, refreshShown);
}

SearchViewModel::~SearchViewModel() {
    *alive_ = false;
    cancelSuggestion();
    searchStop_->request_stop();
    if (hotSearchStop_) hotSearchStop_->request_stop();
}

// Query and suggestions.

std::string SearchViewModel::trimmedQuery() const {
    return SearchTextFolding::trimmedKeyword(query_);
}

void SearchViewModel::cancelSuggestion() {
    if (suggestionTimer_ != 0) mainQueue_.cancel(suggestionTimer_);
    suggestionTimer_ = 0;
    if (suggestionStop_) suggestionStop_->request_stop();
    suggestionStop_.reset();
}

void SearchViewModel::nextSearchGeneration() {
    searchStop_->request_stop();
    searchStop_ = std::make_shared<std::stop_source>();
    ++searchGeneration_;
}

void SearchViewModel::abandonSubmission() {
    setSongFailures({});
    nextSearchGeneration();
    activeSearchKeyword_.reset();
    assign(isLoading_, false, &SearchViewModel::isLoadingChanged);
    assign(isLoadingArtists_, false, &SearchViewModel::isLoadingArtistsChanged);
    assign(isLoadingAlbums_, false, &SearchViewModel::isLoadingAlbumsChanged);
    assign(isLoadingPlaylists_, false, &SearchViewModel::isLoadingPlaylistsChanged);
    assign(hasLoadedSongs_, false, &SearchViewModel::hasLoadedSongsChanged);
    assign(hasLoadedArtists_, false, &SearchViewModel::hasLoadedArtistsChanged);
    assign(hasLoadedAlbums_, false, &SearchViewModel::hasLoadedAlbumsChanged);
    assign(hasLoadedPlaylists_, false, &SearchViewModel::hasLoadedPlaylistsChanged);
    submittedKeyword_.reset();
    setSelectedScope(SearchScope::songs);
}

void SearchViewModel::clearScopesForNewKeyword() {
    setResults({});
    resetArtistResults();
    resetAlbumResults();
    resetPlaylistResults();
    assign(hasLoadedSongs_, false, &SearchViewModel::hasLoadedSongsChanged);
    assign(errorMessage_, std::optional<std::string>(), &SearchViewModel::errorMessageChanged);
    assign(failedSource_, std::optional<MusicSource>(), &SearchViewModel::failedSourceChanged);
    assign(isRetryingFailedSource_, false, &SearchViewModel::isRetryingFailedSourceChanged);
    assign(failedArtistSources_, std::set<MusicSource>(), &SearchViewModel::failedArtistSourcesChanged);
    assign(hasSearched_, false, &SearchViewModel::hasSearchedChanged);
    setSelectedScope(SearchScope::songs);
}

void SearchViewModel::queryChanged() {
    cancelSuggestion();
    ++suggestionGeneration_;
    setSuggestions({});
    assign(isLoadingSuggestions_, false, &SearchViewModel::isLoadingSuggestionsChanged);

    const auto trimmed = trimmedQuery();
    if ((submittedKeyword_ && *submittedKeyword_ != trimmed) ||
        (activeSearchKeyword_ && *activeSearchKeyword_ != trimmed)) {
        abandonSubmission();
    }
    if (trimmed.empty()) {
        setSuggestions({});
        clearScopesForNewKeyword();
        submittedKeyword_.reset();
        return;
    }
    if (!submittedKeyword_ || *submittedKeyword_ != trimmed) clearScopesForNewKeyword();
    // The field shows the submitted keyword (perhaps with spaces added): its results stay.
    if (submittedKeyword_ == trimmed) return;
    if (SearchTextFolding::characterCount(trimmed) < 2) return;

    const auto generation = suggestionGeneration_;
    assign(isLoadingSuggestions_, true, &SearchViewModel::isLoadingSuggestionsChanged);
    auto stop = std::make_shared<std::stop_source>();
    suggestionStop_ = stop;
    suggestionTimer_ = mainQueue_.schedule(suggestionDelay, [this, alive = alive_, generation,
                                                             trimmed, stop] {
        if (!*alive) return;
        suggestionTimer_ = 0;
        runBlocking<std::vector<std::string>>(
            stop->get_token(),
            [&runtime = runtime_, trimmed](std::stop_token token) {
                return runtime.tipSearch(trimmed, token);
            },
            [this, generation, trimmed, stop](TaskResult<std::vector<std::string>> answer) {
                if (stop->stop_requested()) return;
                if (generation != suggestionGeneration_ || trimmedQuery() != trimmed) return;
                // A failure only empties the list; no message.
                setSuggestions(answer.ok() ? std::move(answer.value()) : std::vector<std::string>{});
                assign(isLoadingSuggestions_, false, &SearchViewModel::isLoadingSuggestionsChanged);
            });
    });
}

// Submission and scopes.

void SearchViewModel::search(std::optional<SearchScope> scope, Done done) {
    const auto keyword = trimmedQuery();
    nextSearchGeneration();
    const auto generation = searchGeneration_;
    setSongFailures({});

    cancelSuggestion();
    ++suggestionGeneration_;
    setSuggestions({});
    assign(isLoadingSuggestions_, false, &SearchViewModel::isLoadingSuggestionsChanged);

    if (keyword.empty()) {
        clearScopesForNewKeyword();
        assign(isLoading_, false, &SearchViewModel::isLoadingChanged);
        activeSearchKeyword_.reset();
        submittedKeyword_.reset();
        finish(done);
        return;
    }

    setHistory(SearchHistoryStore::remember(defaults_, keyword));
    const auto chosen = scope.value_or(selectedScope_);
    submittedKeyword_ = keyword;
    activeSearchKeyword_ = keyword;
    setResults({});
    resetArtistResults();
    resetAlbumResults();
    resetPlaylistResults();
    assign(hasLoadedSongs_, false, &SearchViewModel::hasLoadedSongsChanged);
    assign(hasSearched_, true, &SearchViewModel::hasSearchedChanged);
    setSelectedScope(chosen);

    assign(isLoading_, chosen == SearchScope::songs, &SearchViewModel::isLoadingChanged);
    assign(isLoadingArtists_, chosen == SearchScope::artists, &SearchViewModel::isLoadingArtistsChanged);
    assign(isLoadingAlbums_, chosen == SearchScope::albums, &SearchViewModel::isLoadingAlbumsChanged);
    assign(isLoadingPlaylists_, chosen == SearchScope::playlists,
           &SearchViewModel::isLoadingPlaylistsChanged);

    assign(errorMessage_, std::optional<std::string>(), &SearchViewModel::errorMessageChanged);
    assign(failedSource_, std::optional<MusicSource>(), &SearchViewModel::failedSourceChanged);
    assign(isRetryingFailedSource_, false, &SearchViewModel::isRetryingFailedSourceChanged);
    assign(failedArtistSources_, std::set<MusicSource>(), &SearchViewModel::failedArtistSourcesChanged);

    auto ended = [this, generation, keyword, done] {
        // A newer submission or edit owns the active keyword otherwise.
        if (isCurrentSearch(generation, keyword)) activeSearchKeyword_.reset();
        finish(done);
    };
    switch (chosen) {
        case SearchScope::songs:
            loadSubmittedSongs(keyword, generation, ended);
            break;
        case SearchScope::artists:
            loadSubmittedArtists(keyword, generation, ended);
            break;
        case SearchScope::albums:
            loadSubmittedAlbums(keyword, generation, ended);
            break;
        case SearchScope::playlists:
            loadSubmittedPlaylists(keyword, generation, ended);
            break;
    }
}

void SearchViewModel::loadScopeIfNeeded(SearchScope scope, Done done) {
    if (!submittedKeyword_ || submittedKeyword_->empty()) return finish(done);
    const auto keyword = *submittedKeyword_;
    const auto generation = searchGeneration_;
    if (!isCurrentSearch(generation, keyword)) return finish(done);
    switch (scope) {
        case SearchScope::songs:
            if (!hasLoadedSongs_ && !isLoading_) return loadSubmittedSongs(keyword, generation, done);
            break;
        case SearchScope::artists:
            if (!hasLoadedArtists_ && !isLoadingArtists_)
                return loadSubmittedArtists(keyword, generation, done);
            break;
        case SearchScope::albums:
            if (!hasLoadedAlbums_ && !isLoadingAlbums_)
                return loadSubmittedAlbums(keyword, generation, done);
            break;
        case SearchScope::playlists:
            if (!hasLoadedPlaylists_ && !isLoadingPlaylists_)
                return loadSubmittedPlaylists(keyword, generation, done);
            break;
    }
    finish(done);
}

bool SearchViewModel::isCurrentSearch(std::int64_t generation, const std::string& keyword) const {
    return generation == searchGeneration_ &&
           (submittedKeyword_ == keyword || activeSearchKeyword_ == keyword) &&
           trimmedQuery() == keyword;
}

// Songs.

void SearchViewModel::search(const std::string& keyword, MusicSource source,
                             std::function<void(SourceResult)> done) {
    runBlocking<std::vector<SearchResultRanker::ScoredSong>>(
        searchStop_->get_token(),
        [&runtime = runtime_, keyword, source](std::stop_token token) {
            SearchPage page = runtime.search(keyword, source, 1, token);
            if (page.list.size() > songsPerSourceLimit) page.list.resize(songsPerSourceLimit);
            return SearchResultRanker::scored(std::move(page.list), keyword);
        },
        [source, done = std::move(done)](TaskResult<std::vector<SearchResultRanker::ScoredSong>> answer) {
            SourceResult result;
            result.source = source;
            if (answer.ok()) {
                result.songs = std::move(answer.value());
            } else if (isCancellation(answer.error())) {
                result.cancelled = true;
            } else {
                result.errorMessage = std::string(displayName(source)) + "：" +
                                      searchErrorText(answer.error());
            }
            done(std::move(result));
        });
}

void SearchViewModel::loadSubmittedSongs(const std::string& keyword, std::int64_t generation,
                                         Done done) {
    assign(isLoading_, true, &SearchViewModel::isLoadingChanged);
    const auto& sources = MusicSources::searchSources;
    auto collected = std::make_shared<std::vector<SourceResult>>();
    auto remaining = std::make_shared<std::size_t>(sources.size());
    auto stop = searchStop_;
    auto publish = [this, keyword, generation, collected, stop, done] {
        if (stop->stop_requested() || !isCurrentSearch(generation, keyword)) {
            // Still this submission's load (the text moved without an edit): the flag is ours.
            if (generation == searchGeneration_)
                assign(isLoading_, false, &SearchViewModel::isLoadingChanged);
            return finish(done);
        }
        auto ordered = std::move(*collected);
        std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
            return searchSourcePosition(a.source) < searchSourcePosition(b.source);
        });
        std::vector<SearchResultRanker::ScoredSong> songs;
        std::vector<std::pair<MusicSource, std::string>> failures;
        for (auto& result : ordered) {
            std::move(result.songs.begin(), result.songs.end(), std::back_inserter(songs));
            if (result.errorMessage) failures.emplace_back(result.source, *result.errorMessage);
        }
        setResults(SearchResultRanker::ranked(std::move(songs)));
        const auto first = failures.empty() ? std::optional<MusicSource>() : failures.front().first;
        setSongFailures(std::move(failures));
        assign(failedSource_, first, &SearchViewModel::failedSourceChanged);
        assign(isLoading_, false, &SearchViewModel::isLoadingChanged);
        assign(hasLoadedSongs_, true, &SearchViewModel::hasLoadedSongsChanged);
        assign(hasSearched_, true, &SearchViewModel::hasSearchedChanged);
        updateSearchError();
        finish(done);
    };
    if (sources.empty()) return publish();
    for (auto source : sources) {
        search(keyword, source, [collected, remaining, publish](SourceResult result) {
            collected->push_back(std::move(result));
            if (--*remaining == 0) publish();
        });
    }
}

void SearchViewModel::retryFailedSource(std::optional<MusicSource> requested, Done done) {
    const auto source = requested ? requested : failedSource_;
    if (!source) return finish(done);
    const bool failed = std::any_of(songFailures_.begin(), songFailures_.end(),
                                    [&](const auto& entry) { return entry.first == *source; });
    if (!failed) return finish(done);
    if (!submittedKeyword_ || trimmedQuery() != *submittedKeyword_) return finish(done);
    if (isRetryingFailedSource_) return finish(done);

    const auto keyword = *submittedKeyword_;
    const auto generation = searchGeneration_;
    assign(isRetryingFailedSource_, true, &SearchViewModel::isRetryingFailedSourceChanged);
    search(keyword, *source, [this, keyword, generation, source = *source, done](SourceResult result) {
        const bool current = generation == searchGeneration_ && submittedKeyword_ == keyword &&
                             trimmedQuery() == keyword;
        if (!current || result.cancelled) {
            // Nothing was fetched; only a flag this generation still owns goes back.
            if (generation == searchGeneration_)
                assign(isRetryingFailedSource_, false, &SearchViewModel::isRetryingFailedSourceChanged);
            return finish(done);
        }
        assign(isRetryingFailedSource_, false, &SearchViewModel::isRetryingFailedSourceChanged);
        auto failures = songFailures_;
        std::erase_if(failures, [&](const auto& entry) { return entry.first == source; });
        if (!result.errorMessage) {
            auto merged = scoredResults_;
            std::move(result.songs.begin(), result.songs.end(), std::back_inserter(merged));
            setResults(SearchResultRanker::ranked(std::move(merged)));
        } else {
            failures.emplace_back(source, *result.errorMessage);
        }
        const auto first = failures.empty() ? std::optional<MusicSource>() : failures.front().first;
        setSongFailures(std::move(failures));
        assign(failedSource_, first, &SearchViewModel::failedSourceChanged);
        updateSearchError();
        finish(done);
    });
}

void SearchViewModel::updateSearchError() {
    assign(errorMessage_, scopeError(selectedScope_), &SearchViewModel::errorMessageChanged);
}

SearchViewModel::ScopeState SearchViewModel::scopeState(SearchScope scope) const {
    auto state = [](bool loading, bool found, bool loaded, bool failed) {
        if (loading) return ScopeState::loading;
        if (found) return ScopeState::results;
        if (!loaded) return ScopeState::idle;
        return failed ? ScopeState::failed : ScopeState::empty;
    };
    switch (scope) {
        case SearchScope::songs:
            return state(isLoading_, !results_.empty(), hasLoadedSongs_, !songFailures_.empty());
        case SearchScope::artists:
            return state(isLoadingArtists_, !artistResults_.empty(), hasLoadedArtists_,
                         !failedArtistSources_.empty());
        case SearchScope::albums:
            return state(isLoadingAlbums_, !albumResults_.empty(), hasLoadedAlbums_,
                         albumErrorMessage_.has_value());
        case SearchScope::playlists:
            return state(isLoadingPlaylists_, !playlistResults_.empty(), hasLoadedPlaylists_,
                         playlistErrorMessage_.has_value());
    }
    return ScopeState::idle;
}

std::optional<std::string> SearchViewModel::scopeError(SearchScope scope) const {
    if (scopeState(scope) != ScopeState::failed) return std::nullopt;
    switch (scope) {
        case SearchScope::songs: {
            std::string text = "搜索失败：";
            for (std::size_t i = 0; i < songFailures_.size(); ++i) {
                if (i > 0) text += "；";
                text += songFailures_[i].second;
            }
            return text;
        }
        case SearchScope::artists:
            return "歌手搜索暂不可用，请重试";
        case SearchScope::albums:
            return albumErrorMessage_;
        case SearchScope::playlists:
            return playlistErrorMessage_;
    }
    return std::nullopt;
}

// Hot searches.

void SearchViewModel::loadHotSearchesIfNeeded(Done done) {
    if (!hasLoadedHotSearches_ && !isLoadingHotSearches_) return refreshHotSearches(done);
    finish(done);
}

void SearchViewModel::refreshHotSearches(Done done) {
    const auto generation = ++hotSearchGeneration_;
    if (hotSearchStop_) hotSearchStop_->request_stop();
    hotSearchStop_ = std::make_shared<std::stop_source>();
    assign(isLoadingHotSearches_, true, &SearchViewModel::isLoadingHotSearchesChanged);
    assign(hotSearchErrorMessage_, std::optional<std::string>(),
           &SearchViewModel::hotSearchErrorMessageChanged);
    runBlocking<std::vector<std::string>>(
        hotSearchStop_->get_token(),
        [&runtime = runtime_](std::stop_token token) {
            return runtime.hotSearch(MusicSource::wy, token);
        },
        [this, generation, done](TaskResult<std::vector<std::string>> answer) {
            if (generation != hotSearchGeneration_) return finish(done);
            if (answer.ok()) {
                auto list = normalizeHotSearches(answer.value());
                if (!list.empty()) setHotSearches(std::move(list));
                else if (hotSearches_.empty()) setHotSearches(defaultHotSearches);
                assign(isLoadingHotSearches_, false, &SearchViewModel::isLoadingHotSearchesChanged);
                hasLoadedHotSearches_ = true;
            } else if (isCancellation(answer.error())) {
                // Not loaded: the next appearance of the field asks again.
                assign(isLoadingHotSearches_, false, &SearchViewModel::isLoadingHotSearchesChanged);
            } else {
                assign(hotSearchErrorMessage_, std::optional<std::string>("热门搜索暂不可用"),
                       &SearchViewModel::hotSearchErrorMessageChanged);
                assign(isLoadingHotSearches_, false, &SearchViewModel::isLoadingHotSearchesChanged);
                hasLoadedHotSearches_ = true;
                if (hotSearches_.empty()) setHotSearches(defaultHotSearches);
            }
            finish(done);
        });
}

std::vector<std::string> SearchViewModel::normalizeHotSearches(const std::vector<std::string>& list) {
    std::vector<std::string> out;
    std::set<std::string> taken;
    for (const auto& entry : list) {
        auto text = SearchTextFolding::trimmedKeyword(entry);
        if (text.empty() || !taken.insert(text).second) continue;
        out.push_back(std::move(text));
        if (out.size() == hotSearchLimit) break;
    }
    return out;
}

// Setters: an equal value stays silent.

void SearchViewModel::setQuery(std::string query) {
    assign(query_, std::move(query), &SearchViewModel::queryValueChanged);
}

// The error shown is the scope's own: switching brings back a failure that stands and drops
// another scope's.
void SearchViewModel::setSelectedScope(SearchScope scope) {
    assign(selectedScope_, scope, &SearchViewModel::selectedScopeChanged);
    updateSearchError();
}

void SearchViewModel::setHistory(std::vector<std::string> history) {
    assign(history_, std::move(history), &SearchViewModel::historyChanged);
}

void SearchViewModel::setHasSearched(bool value) {
    assign(hasSearched_, value, &SearchViewModel::hasSearchedChanged);
}

void SearchViewModel::setArtistResultsExpanded(bool value) {
    assign(isArtistResultsExpanded_, value, &SearchViewModel::isArtistResultsExpandedChanged);
    refreshDerived();
}

void SearchViewModel::setResults(std::vector<SearchResultRanker::ScoredSong> ranked) {
    std::vector<Track> results;
    results.reserve(ranked.size());
    for (const auto& entry : ranked) results.push_back(entry.song);
    scoredResults_ = std::move(ranked);
    if (results == results_) return;
    results_ = std::move(results);
    resultsModel_->setRows(rows(scoredResults_));
    emit resultsChanged();
    refreshDerived();
}

void SearchViewModel::setArtistResults(std::vector<ArtistSummary> artists) {
    if (artists == artistResults_) return;
    artistResults_ = std::move(artists);
    artistResultsModel_->setRows(rows(artistResults_));
    emit artistResultsChanged();
    refreshDerived();
}

void SearchViewModel::setAlbumResults(std::vector<AlbumSummary> albums) {
    if (albums == albumResults_) return;
    albumResults_ = std::move(albums);
    albumResultsModel_->setRows(rows(albumResults_));
    emit albumResultsChanged();
}

void SearchViewModel::setPlaylistResults(std::vector<PlaylistSummary> playlists) {
    if (playlists == playlistResults_) return;
    playlistResults_ = std::move(playlists);
    playlistResultsModel_->setRows(rows(playlistResults_));
    emit playlistResultsChanged();
}

void SearchViewModel::setSuggestions(std::vector<std::string> suggestions) {
    assign(suggestions_, std::move(suggestions), &SearchViewModel::suggestionsChanged);
}

void SearchViewModel::setHotSearches(std::vector<std::string> list) {
    assign(hotSearches_, std::move(list), &SearchViewModel::hotSearchesChanged);
}

void SearchViewModel::setSongFailures(std::vector<std::pair<MusicSource, std::string>> failures) {
    songFailures_ = std::move(failures);
    refreshDerived();
}

void SearchViewModel::setArtistSourceStates(std::map<MusicSource, ArtistPaginationState> states) {
    artistSourceStates_ = std::move(states);
    refreshDerived();
}

void SearchViewModel::setArtistExpansionFailedSources(std::set<MusicSource> sources) {
    assign(artistExpansionFailedSources_, std::move(sources),
           &SearchViewModel::artistExpansionFailedSourcesChanged);
    refreshDerived();
}

void SearchViewModel::refreshDerived() {
    auto visible = visibleArtistResults();
    if (visible != visibleArtistResultsCache_) {
        visibleArtistResultsCache_ = std::move(visible);
        visibleArtistResultsModel_->setRows(rows(visibleArtistResultsCache_));
        emit visibleArtistResultsChanged();
    }
    assign(canExpandArtistResultsCache_, canExpandArtistResults(),
           &SearchViewModel::canExpandArtistResultsChanged);
    assign(artistExpansionWarningsCache_, artistExpansionWarnings(),
           &SearchViewModel::artistExpansionWarningsChanged);
    assign(songSourceWarningsCache_, songSourceWarnings(), &SearchViewModel::songSourceWarningsChanged);
}

std::vector<MusicSource> SearchViewModel::songSourceWarnings() const {
    std::vector<MusicSource> sources;
    if (results_.empty()) return sources;
    for (const auto& entry : songFailures_) sources.push_back(entry.first);
    return sources;
}

// The properties and calls the views use, in Qt types.

QString SearchViewModel::selectedScopeText() const {
    auto raw = rawValue(selectedScope_);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

void SearchViewModel::setSelectedScopeText(const QString& raw) {
    if (auto scope = searchScopeFromRaw(raw.toStdString())) setSelectedScope(*scope);
}

QStringList SearchViewModel::availableScopes() const {
    QStringList out;
    for (auto scope : SearchScopes::availableCases) {
        auto raw = rawValue(scope);
        out.append(QString::fromUtf8(raw.data(), qsizetype(raw.size())));
    }
    return out;
}

QStringList SearchViewModel::suggestionList() const { return toQt(suggestions_); }
QStringList SearchViewModel::hotSearchList() const { return toQt(hotSearches_); }
QStringList SearchViewModel::shownSuggestionList() const { return toQt(shownSuggestions_); }
QStringList SearchViewModel::shownHotSearchList() const { return toQt(shownHotSearches()); }

std::vector<std::string> SearchViewModel::shownSuggestions() const {
    if (query_.empty()) return {};
    return {suggestions_.begin(), suggestions_.begin() + std::min(suggestions_.size(), shownSuggestionLimit)};
}

std::vector<std::string> SearchViewModel::shownHotSearches() const {
    return {hotSearches_.begin(), hotSearches_.begin() + std::min(hotSearches_.size(), shownHotSearchLimit)};
}

QStringList SearchViewModel::historyList() const { return toQt(history_); }

void SearchViewModel::setHistoryList(const QStringList& list) {
    std::vector<std::string> history;
    for (const auto& text : list) history.push_back(text.toStdString());
    setHistory(std::move(history));
}

QString SearchViewModel::errorMessageText() const { return optionalText(errorMessage_); }
QString SearchViewModel::failedSourceText() const {
    return failedSource_ ? sourceText(*failedSource_) : QString();
}
QStringList SearchViewModel::failedArtistSourceList() const { return rawValues(failedArtistSources_); }
QString SearchViewModel::albumErrorMessageText() const { return optionalText(albumErrorMessage_); }
QString SearchViewModel::playlistErrorMessageText() const {
    return optionalText(playlistErrorMessage_);
}
QStringList SearchViewModel::artistExpansionFailedSourceList() const {
    return rawValues(artistExpansionFailedSources_);
}
QStringList SearchViewModel::retryingArtistExpansionSourceList() const {
    return rawValues(retryingArtistExpansionSources_);
}
QString SearchViewModel::hotSearchErrorMessageText() const {
    return optionalText(hotSearchErrorMessage_);
}
QStringList SearchViewModel::artistExpansionWarningList() const {
    return rawValues(artistExpansionWarnings());
}
QStringList SearchViewModel::songSourceWarningList() const { return rawValues(songSourceWarnings()); }

void SearchViewModel::submitSearch(const QString& scope) {
    search(scope.isEmpty() ? std::nullopt : searchScopeFromRaw(scope.toStdString()));
}

void SearchViewModel::loadScope(const QString& scope) {
    if (auto parsed = searchScopeFromRaw(scope.toStdString())) loadScopeIfNeeded(*parsed);
}

void SearchViewModel::retrySource(const QString& source) {
    retryFailedSource(source.isEmpty() ? std::nullopt : musicSourceFromRaw(source.toStdString()));
}

void SearchViewModel::retryArtistExpansionOf(const QString& source) {
    if (auto parsed = musicSourceFromRaw(source.toStdString())) retryArtistExpansion(*parsed);
}

}  // namespace velto
