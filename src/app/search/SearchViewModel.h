#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "app/search/SearchResultListModel.h"
#include "app/search/SearchResultRanker.h"
#include "app/search/SearchScope.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/WorkerPool.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/SourceRuntime.h"
#include "sources/model/Track.h"

namespace velto {

// The search tab's state: query, suggestions, hot searches, history, the four result scopes of
// the submitted keyword and their failures. Lives on the main thread; every runtime call runs
// on a worker and comes back through the main queue, where the generation counters and the
// keyword checks drop answers that are no longer current. Operations that wait take an optional
// `done`, called on the main thread once they have finished (also when they dropped their answer).
class SearchViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString query READ queryText WRITE setQueryText NOTIFY queryValueChanged)
    Q_PROPERTY(QString selectedScope READ selectedScopeText WRITE setSelectedScopeText NOTIFY selectedScopeChanged)
    Q_PROPERTY(QStringList availableScopes READ availableScopes CONSTANT)
    Q_PROPERTY(QAbstractListModel* results READ resultsModel NOTIFY resultsChanged)
    Q_PROPERTY(QAbstractListModel* artistResults READ artistResultsModel NOTIFY artistResultsChanged)
    Q_PROPERTY(QAbstractListModel* albumResults READ albumResultsModel NOTIFY albumResultsChanged)
    Q_PROPERTY(QAbstractListModel* playlistResults READ playlistResultsModel NOTIFY playlistResultsChanged)
    Q_PROPERTY(QStringList suggestions READ suggestionList NOTIFY suggestionsChanged)
    Q_PROPERTY(bool hasLoadedSongs READ hasLoadedSongs NOTIFY hasLoadedSongsChanged)
    Q_PROPERTY(bool hasLoadedArtists READ hasLoadedArtists NOTIFY hasLoadedArtistsChanged)
    Q_PROPERTY(bool hasLoadedAlbums READ hasLoadedAlbums NOTIFY hasLoadedAlbumsChanged)
    Q_PROPERTY(bool hasLoadedPlaylists READ hasLoadedPlaylists NOTIFY hasLoadedPlaylistsChanged)
    Q_PROPERTY(QStringList hotSearches READ hotSearchList NOTIFY hotSearchesChanged)
    Q_PROPERTY(QStringList shownSuggestions READ shownSuggestionList NOTIFY shownSuggestionsChanged)
    Q_PROPERTY(QStringList shownHotSearches READ shownHotSearchList NOTIFY hotSearchesChanged)
    Q_PROPERTY(QStringList history READ historyList WRITE setHistoryList NOTIFY historyChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isLoadingArtists READ isLoadingArtists NOTIFY isLoadingArtistsChanged)
    Q_PROPERTY(bool isLoadingAlbums READ isLoadingAlbums NOTIFY isLoadingAlbumsChanged)
    Q_PROPERTY(bool isLoadingPlaylists READ isLoadingPlaylists NOTIFY isLoadingPlaylistsChanged)
    Q_PROPERTY(bool isLoadingSuggestions READ isLoadingSuggestions NOTIFY isLoadingSuggestionsChanged)
    Q_PROPERTY(bool isLoadingHotSearches READ isLoadingHotSearches NOTIFY isLoadingHotSearchesChanged)
    Q_PROPERTY(bool hasSearched READ hasSearched WRITE setHasSearched NOTIFY hasSearchedChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(QString failedSource READ failedSourceText NOTIFY failedSourceChanged)
    Q_PROPERTY(bool isRetryingFailedSource READ isRetryingFailedSource NOTIFY isRetryingFailedSourceChanged)
    Q_PROPERTY(QStringList failedArtistSources READ failedArtistSourceList NOTIFY failedArtistSourcesChanged)
    Q_PROPERTY(QString albumErrorMessage READ albumErrorMessageText NOTIFY albumErrorMessageChanged)
    Q_PROPERTY(QString playlistErrorMessage READ playlistErrorMessageText NOTIFY playlistErrorMessageChanged)
    Q_PROPERTY(bool isArtistResultsExpanded READ isArtistResultsExpanded WRITE setArtistResultsExpanded NOTIFY isArtistResultsExpandedChanged)
    Q_PROPERTY(bool isLoadingMoreArtists READ isLoadingMoreArtists NOTIFY isLoadingMoreArtistsChanged)
    Q_PROPERTY(QStringList artistExpansionFailedSources READ artistExpansionFailedSourceList NOTIFY artistExpansionFailedSourcesChanged)
    Q_PROPERTY(QStringList retryingArtistExpansionSources READ retryingArtistExpansionSourceList NOTIFY retryingArtistExpansionSourcesChanged)
    Q_PROPERTY(QString hotSearchErrorMessage READ hotSearchErrorMessageText NOTIFY hotSearchErrorMessageChanged)
    Q_PROPERTY(QAbstractListModel* visibleArtistResults READ visibleArtistResultsModel NOTIFY visibleArtistResultsChanged)
    Q_PROPERTY(bool canExpandArtistResults READ canExpandArtistResults NOTIFY canExpandArtistResultsChanged)
    Q_PROPERTY(QStringList artistExpansionWarnings READ artistExpansionWarningList NOTIFY artistExpansionWarningsChanged)
    Q_PROPERTY(QStringList songSourceWarnings READ songSourceWarningList NOTIFY songSourceWarningsChanged)

  public:
    // The outcome of one source's song search: songs, a failure text, or neither (cancelled).
    // The songs come scored on the worker, so that publishing them folds no name.
    struct SourceResult {
        MusicSource source = MusicSource::wy;
        std::vector<SearchResultRanker::ScoredSong> songs;
        std::optional<std::string> errorMessage;
        bool cancelled = false;
    };

    struct ArtistPaginationState {
        std::vector<ArtistSummary> artists;
        std::int64_t total = 0;
        std::int64_t page = 1;
        std::int64_t limit = artistPageLimit;
        bool hasMore = false;
        // The candidate keyword that produced the first page; further pages ask for it too.
        std::string keyword;
        bool operator==(const ArtistPaginationState&) const = default;
    };

    // A success has a page, a failure a message, a cancellation neither.
    struct ArtistSourceResult {
        MusicSource source = MusicSource::wy;
        std::optional<ArtistSearchPage> page;
        std::optional<std::string> errorMessage;
        std::string candidate;
    };

    // What a scope's page stands at for the submitted keyword: not asked yet, its search under
    // way, its last search failed (it shows the failure, never a hint or a count), answered
    // with nothing, or with results.
    enum class ScopeState { idle, loading, failed, empty, results };

    struct PlaylistSourceResult {
        std::optional<PlaylistCatalogPage> page;
        std::optional<std::string> errorMessage;
    };

    using BlockingExecutor = std::function<void(std::function<void()>)>;
    using Done = std::function<void()>;

    static constexpr std::int64_t artistPageLimit = 3;
    static constexpr int albumPageLimit = 20;
    static constexpr std::size_t hotSearchLimit = 12;
    // Songs kept of one source's answer, cut on the worker: a server that ignores the page size
    // asked for must not stall the main thread, which ranks and lists them.
    static constexpr std::size_t songsPerSourceLimit = 100;
    static const std::vector<std::string> defaultHotSearches;
    static constexpr MainQueue::Duration suggestionDelay = std::chrono::milliseconds(320);

    // `runtime` and `defaults` must outlive the model.
    SearchViewModel(SourceRuntime& runtime, UserDefaults& defaults, MainQueue& mainQueue,
                    WorkerPool& workers, QObject* parent = nullptr);
    ~SearchViewModel() override;

    // For tests: where runtime calls run.
    void setBlockingExecutor(BlockingExecutor executor) { executor_ = std::move(executor); }

    // --- Operations ---------------------------------------------------------------------------
    Q_INVOKABLE void queryChanged();
    void search(std::optional<SearchScope> scope = std::nullopt, Done done = {});
    void loadScopeIfNeeded(SearchScope scope, Done done = {});
    void loadHotSearchesIfNeeded(Done done = {});
    void refreshHotSearches(Done done = {});
    void retryFailedSource(std::optional<MusicSource> source = std::nullopt, Done done = {});
    void loadMoreArtists(Done done = {});
    void retryArtistExpansion(MusicSource source, Done done = {});

    // The same for QML: a scope or source by its raw value; empty for none.
    Q_INVOKABLE void submitSearch(const QString& scope = {});
    Q_INVOKABLE void loadScope(const QString& scope);
    Q_INVOKABLE void loadHotSearches() { loadHotSearchesIfNeeded(); }
    Q_INVOKABLE void retrySource(const QString& source = {});
    Q_INVOKABLE void requestMoreArtists() { loadMoreArtists(); }
    Q_INVOKABLE void retryArtistExpansionOf(const QString& source);

    // Loaders and helpers the operations use.
    void loadSubmittedSongs(const std::string& keyword, std::int64_t generation, Done done = {});
    void loadSubmittedArtists(const std::string& keyword, std::int64_t generation, Done done = {});
    void loadSubmittedAlbums(const std::string& keyword, std::int64_t generation, Done done = {});
    void loadSubmittedPlaylists(const std::string& keyword, std::int64_t generation, Done done = {});
    void search(const std::string& keyword, MusicSource source,
                std::function<void(SourceResult)> done);
    bool isCurrentSearch(std::int64_t generation, const std::string& keyword) const;
    void updateSearchError();
    void resetArtistResults();
    void resetAlbumResults();
    void resetPlaylistResults();
    void mergeArtistPage(const ArtistSearchPage& page, MusicSource source);
    std::vector<ArtistSummary> rankedArtists(const std::string& keyword) const;

    static std::vector<std::string> normalizeHotSearches(const std::vector<std::string>& list);
    static std::vector<std::string> candidateArtistKeywords(std::string_view keyword);
    static std::map<MusicSource, ArtistPaginationState> makeArtistSourceStates(
        const std::vector<ArtistSourceResult>& results);
    static std::vector<ArtistSummary> deduplicated(const std::vector<ArtistSummary>& artists);

    // --- State --------------------------------------------------------------------------------
    const std::string& query() const { return query_; }
    void setQuery(std::string query);
    SearchScope selectedScope() const { return selectedScope_; }
    void setSelectedScope(SearchScope scope);
    const std::vector<Track>& results() const { return results_; }
    // The same songs in the same order, with what the worker read of each (its playability).
    const std::vector<SearchResultRanker::ScoredSong>& scoredResults() const { return scoredResults_; }
    const std::vector<ArtistSummary>& artistResults() const { return artistResults_; }
    const std::vector<AlbumSummary>& albumResults() const { return albumResults_; }
    const std::vector<PlaylistSummary>& playlistResults() const { return playlistResults_; }
    const std::vector<std::string>& suggestions() const { return suggestions_; }
    bool hasLoadedSongs() const { return hasLoadedSongs_; }
    bool hasLoadedArtists() const { return hasLoadedArtists_; }
    bool hasLoadedAlbums() const { return hasLoadedAlbums_; }
    bool hasLoadedPlaylists() const { return hasLoadedPlaylists_; }
    const std::vector<std::string>& hotSearches() const { return hotSearches_; }
    // What the discovery view lists: the first suggestions, only while the query has any text
    // at all, and the first hot searches.
    static constexpr std::size_t shownSuggestionLimit = 5;
    static constexpr std::size_t shownHotSearchLimit = 8;
    std::vector<std::string> shownSuggestions() const;
    std::vector<std::string> shownHotSearches() const;
    const std::vector<std::string>& history() const { return history_; }
    void setHistory(std::vector<std::string> history);
    bool isLoading() const { return isLoading_; }
    bool isLoadingArtists() const { return isLoadingArtists_; }
    bool isLoadingAlbums() const { return isLoadingAlbums_; }
    bool isLoadingPlaylists() const { return isLoadingPlaylists_; }
    bool isLoadingSuggestions() const { return isLoadingSuggestions_; }
    bool isLoadingHotSearches() const { return isLoadingHotSearches_; }
    bool hasSearched() const { return hasSearched_; }
    void setHasSearched(bool value);
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    std::optional<MusicSource> failedSource() const { return failedSource_; }
    bool isRetryingFailedSource() const { return isRetryingFailedSource_; }
    const std::set<MusicSource>& failedArtistSources() const { return failedArtistSources_; }
    const std::optional<std::string>& albumErrorMessage() const { return albumErrorMessage_; }
    const std::optional<std::string>& playlistErrorMessage() const { return playlistErrorMessage_; }
    bool isArtistResultsExpanded() const { return isArtistResultsExpanded_; }
    void setArtistResultsExpanded(bool value);
    bool isLoadingMoreArtists() const { return isLoadingMoreArtists_; }
    const std::set<MusicSource>& artistExpansionFailedSources() const {
        return artistExpansionFailedSources_;
    }
    const std::set<MusicSource>& retryingArtistExpansionSources() const {
        return retryingArtistExpansionSources_;
    }
    const std::optional<std::string>& hotSearchErrorMessage() const { return hotSearchErrorMessage_; }
    const std::vector<std::pair<MusicSource, std::string>>& songFailures() const {
        return songFailures_;
    }
    const std::map<MusicSource, ArtistPaginationState>& artistSourceStates() const {
        return artistSourceStates_;
    }
    const std::optional<std::string>& submittedKeyword() const { return submittedKeyword_; }
    const std::optional<std::string>& activeSearchKeyword() const { return activeSearchKeyword_; }
    std::int64_t searchGeneration() const { return searchGeneration_; }
    std::int64_t suggestionGeneration() const { return suggestionGeneration_; }
    bool hasLoadedHotSearches() const { return hasLoadedHotSearches_; }

    // Derived.
    ScopeState scopeState(SearchScope scope) const;
    // The failure of the scope's last search while it stands; `errorMessage` is the selected
    // scope's.
    std::optional<std::string> scopeError(SearchScope scope) const;
    std::vector<ArtistSummary> visibleArtistResults() const;
    bool canExpandArtistResults() const;
    std::vector<MusicSource> artistExpansionWarnings() const;
    std::vector<MusicSource> songSourceWarnings() const;

    // Qt faces of the state.
    QString queryText() const { return QString::fromStdString(query_); }
    void setQueryText(const QString& text) { setQuery(text.toStdString()); }
    QString selectedScopeText() const;
    void setSelectedScopeText(const QString& raw);
    QStringList availableScopes() const;
    QAbstractListModel* resultsModel() const { return resultsModel_; }
    QAbstractListModel* artistResultsModel() const { return artistResultsModel_; }
    QAbstractListModel* albumResultsModel() const { return albumResultsModel_; }
    QAbstractListModel* playlistResultsModel() const { return playlistResultsModel_; }
    QAbstractListModel* visibleArtistResultsModel() const { return visibleArtistResultsModel_; }
    QStringList suggestionList() const;
    QStringList hotSearchList() const;
    QStringList shownSuggestionList() const;
    QStringList shownHotSearchList() const;
    QStringList historyList() const;
    void setHistoryList(const QStringList& list);
    QString errorMessageText() const;
    QString failedSourceText() const;
    QStringList failedArtistSourceList() const;
    QString albumErrorMessageText() const;
    QString playlistErrorMessageText() const;
    QStringList artistExpansionFailedSourceList() const;
    QStringList retryingArtistExpansionSourceList() const;
    QString hotSearchErrorMessageText() const;
    QStringList artistExpansionWarningList() const;
    QStringList songSourceWarningList() const;

  signals:
    void queryValueChanged();
    void selectedScopeChanged();
    void resultsChanged();
    void artistResultsChanged();
    void albumResultsChanged();
    void playlistResultsChanged();
    void suggestionsChanged();
    void hasLoadedSongsChanged();
    void hasLoadedArtistsChanged();
    void hasLoadedAlbumsChanged();
    void hasLoadedPlaylistsChanged();
    void hotSearchesChanged();
    void shownSuggestionsChanged();
    void historyChanged();
    void isLoadingChanged();
    void isLoadingArtistsChanged();
    void isLoadingAlbumsChanged();
    void isLoadingPlaylistsChanged();
    void isLoadingSuggestionsChanged();
    void isLoadingHotSearchesChanged();
    void hasSearchedChanged();
    void errorMessageChanged();
    void failedSourceChanged();
    void isRetryingFailedSourceChanged();
    void failedArtistSourcesChanged();
    void albumErrorMessageChanged();
    void playlistErrorMessageChanged();
    void isArtistResultsExpandedChanged();
    void isLoadingMoreArtistsChanged();
    void artistExpansionFailedSourcesChanged();
    void retryingArtistExpansionSourcesChanged();
    void hotSearchErrorMessageChanged();
    void visibleArtistResultsChanged();
    void canExpandArtistResultsChanged();
    void artistExpansionWarningsChanged();
    void songSourceWarningsChanged();

  private:
    template <class T>
    void assign(T& field, T value, void (SearchViewModel::*signal)());
    // Runs `work` on the executor and hands its outcome, cancellations included, to `done` on
    // the main thread while the model lives.
    template <class T>
    void runBlocking(std::stop_token stop, std::function<T(std::stop_token)> work,
                     std::function<void(TaskResult<T>)> done);

    std::string trimmedQuery() const;
    void abandonSubmission();
    void clearScopesForNewKeyword();
    void nextSearchGeneration();
    void cancelSuggestion();

    // `ranked` as SearchResultRanker::ranked orders songs.
    void setResults(std::vector<SearchResultRanker::ScoredSong> ranked);
    void setArtistResults(std::vector<ArtistSummary> artists);
    void setAlbumResults(std::vector<AlbumSummary> albums);
    void setPlaylistResults(std::vector<PlaylistSummary> playlists);
    void setSuggestions(std::vector<std::string> suggestions);
    void setHotSearches(std::vector<std::string> list);
    void setSongFailures(std::vector<std::pair<MusicSource, std::string>> failures);
    void setArtistSourceStates(std::map<MusicSource, ArtistPaginationState> states);
    void setArtistExpansionFailedSources(std::set<MusicSource> sources);
    void refreshDerived();

    void searchArtists(std::vector<std::string> candidates, MusicSource source, std::int64_t page,
                       std::int64_t limit, std::stop_token stop,
                       std::function<void(ArtistSourceResult)> done, std::size_t index = 0,
                       std::optional<ArtistSourceResult> first = std::nullopt);
    void searchPlaylists(const std::string& keyword, MusicSource source,
                         std::function<void(PlaylistSourceResult)> done);
    void firstArtistPages(std::vector<std::string> candidates, std::size_t index,
                          std::shared_ptr<std::vector<ArtistSourceResult>> outcomes,
                          std::stop_token stop, std::function<void()> finished);
    void requestArtistPage(const std::string& keyword, MusicSource source, std::int64_t page,
                           std::function<void(ArtistSourceResult)> done);

    SourceRuntime& runtime_;
    UserDefaults& defaults_;
    MainQueue& mainQueue_;
    BlockingExecutor executor_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    std::string query_;
    SearchScope selectedScope_ = SearchScope::songs;
    std::vector<Track> results_;
    std::vector<SearchResultRanker::ScoredSong> scoredResults_;  // results_ with their scores
    std::vector<ArtistSummary> artistResults_;
    std::vector<AlbumSummary> albumResults_;
    std::vector<PlaylistSummary> playlistResults_;
    std::vector<std::string> suggestions_;
    std::vector<std::string> shownSuggestions_;
    bool hasLoadedSongs_ = false;
    bool hasLoadedArtists_ = false;
    bool hasLoadedAlbums_ = false;
    bool hasLoadedPlaylists_ = false;
    std::vector<std::string> hotSearches_ = defaultHotSearches;
    std::vector<std::string> history_;
    bool isLoading_ = false;
    bool isLoadingArtists_ = false;
    bool isLoadingAlbums_ = false;
    bool isLoadingPlaylists_ = false;
    bool isLoadingSuggestions_ = false;
    bool isLoadingHotSearches_ = false;
    bool hasSearched_ = false;
    std::optional<std::string> errorMessage_;
    std::optional<MusicSource> failedSource_;
    bool isRetryingFailedSource_ = false;
    std::set<MusicSource> failedArtistSources_;
    std::optional<std::string> albumErrorMessage_;
    std::optional<std::string> playlistErrorMessage_;
    bool isArtistResultsExpanded_ = false;
    bool isLoadingMoreArtists_ = false;
    std::set<MusicSource> artistExpansionFailedSources_;
    std::set<MusicSource> retryingArtistExpansionSources_;
    std::optional<std::string> hotSearchErrorMessage_;

    MainQueue::TimerId suggestionTimer_ = 0;
    std::shared_ptr<std::stop_source> suggestionStop_;
    // Cancelled whenever the search generation moves: the submission, lazy loads, the retry and
    // further artist pages of an abandoned keyword are superseded together.
    std::shared_ptr<std::stop_source> searchStop_ = std::make_shared<std::stop_source>();
    std::shared_ptr<std::stop_source> hotSearchStop_;
    std::vector<std::pair<MusicSource, std::string>> songFailures_;
    std::int64_t suggestionGeneration_ = 0;
    std::int64_t hotSearchGeneration_ = 0;
    std::int64_t searchGeneration_ = 0;
    bool hasLoadedHotSearches_ = false;
    std::optional<std::string> activeSearchKeyword_;
    std::optional<std::string> submittedKeyword_;
    std::map<MusicSource, ArtistPaginationState> artistSourceStates_;

    SearchResultListModel* resultsModel_;
    SearchResultListModel* artistResultsModel_;
    SearchResultListModel* albumResultsModel_;
    SearchResultListModel* playlistResultsModel_;
    SearchResultListModel* visibleArtistResultsModel_;
    std::vector<ArtistSummary> visibleArtistResultsCache_;
    bool canExpandArtistResultsCache_ = false;
    std::vector<MusicSource> artistExpansionWarningsCache_;
    std::vector<MusicSource> songSourceWarningsCache_;
};

template <class T>
void SearchViewModel::assign(T& field, T value, void (SearchViewModel::*signal)()) {
    if (field == value) return;
    field = std::move(value);
    emit(this->*signal)();
}

template <class T>
void SearchViewModel::runBlocking(std::stop_token stop, std::function<T(std::stop_token)> work,
                                  std::function<void(TaskResult<T>)> done) {
    executor_([stop, work = std::move(work), done = std::move(done), alive = alive_,
               &queue = mainQueue_]() mutable {
        std::optional<TaskResult<T>> result;
        try {
            result.emplace(work(stop));
        } catch (...) {
            result.emplace(std::current_exception());
        }
        queue.post([alive, done = std::move(done), result = std::move(*result)]() mutable {
            if (*alive) done(std::move(result));
        });
    });
}

}  // namespace velto
