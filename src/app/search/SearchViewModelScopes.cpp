// The artist, album and playlist scopes of the search model.
#include <algorithm>
#include <climits>
#include <unordered_set>

#include "app/search/ArtistResultRanker.h"
#include "app/search/PlaylistResultRanker.h"
#include "app/search/SearchErrorText.h"
#include "app/search/SearchTextFolding.h"
#include "app/search/SearchViewModel.h"
#include "foundation/Cancellation.h"

namespace velto {

namespace {

void finish(const SearchViewModel::Done& done) {
    if (done) done();
}

std::vector<ArtistSummary> firstPageEntries(const std::vector<ArtistSummary>& list) {
    const auto count = std::min<std::size_t>(list.size(), SearchViewModel::artistPageLimit);
    return SearchViewModel::deduplicated({list.begin(), list.begin() + std::ptrdiff_t(count)});
}

// Page numbers travel as int: a page past INT_MAX cannot be asked for.
bool nextPageFits(std::int64_t page) { return page < INT_MAX; }

}  // namespace

// Candidates and first pages.

std::vector<std::string> SearchViewModel::candidateArtistKeywords(std::string_view keyword) {
    const auto trimmed = SearchTextFolding::trimmedKeyword(keyword);
    std::vector<std::string> list;
    if (trimmed.empty()) return list;
    list.push_back(trimmed);
    auto taken = [&](const std::string& text) {
        return std::find(list.begin(), list.end(), text) != list.end();
    };

    constexpr std::string_view dash = " - ";
    if (trimmed.find(dash) != std::string::npos) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (auto at = trimmed.find(dash); at != std::string::npos; at = trimmed.find(dash, start)) {
            parts.push_back(trimmed.substr(start, at - start));
            start = at + dash.size();
        }
        parts.push_back(trimmed.substr(start));
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
            auto part = SearchTextFolding::trimmedKeyword(*it);
            if (!part.empty() && !taken(part)) list.push_back(std::move(part));
        }
    }

    const auto words = SearchTextFolding::words(trimmed);
    if (words.size() < 2) return list;
    for (const auto& word : words) {
        if (!taken(word) && SearchTextFolding::characterCount(word) >= 2) list.push_back(word);
    }
    return list;
}

void SearchViewModel::searchArtists(std::vector<std::string> candidates, MusicSource source,
                                    std::int64_t page, std::int64_t limit, std::stop_token stop,
                                    std::function<void(ArtistSourceResult)> done, std::size_t index,
                                    std::optional<ArtistSourceResult> first) {
    if (candidates.empty()) return done(ArtistSourceResult{source, std::nullopt, std::nullopt, {}});
    if (index >= candidates.size() || (index > 0 && stop.stop_requested())) return done(*first);
    auto candidate = candidates[index];
    runBlocking<ArtistSearchPage>(
        stop,
        [&runtime = runtime_, candidate, source, page, limit](std::stop_token token) {
            return runtime.searchArtists(candidate, source, int(page), int(limit), token);
        },
        [this, candidates = std::move(candidates), source, page, limit, stop, done, index,
         first = std::move(first), candidate](TaskResult<ArtistSearchPage> answer) mutable {
            if (answer.ok() && !answer.value().list.empty())
                return done(ArtistSourceResult{source, std::move(answer.value()), std::nullopt, candidate});
            if (index == 0) {
                // Only the whole keyword's outcome counts when no candidate finds an artist.
                if (answer.ok())
                    first = ArtistSourceResult{source, std::move(answer.value()), std::nullopt, candidate};
                else if (isCancellation(answer.error()))
                    first = ArtistSourceResult{source, std::nullopt, std::nullopt, candidate};
                else
                    first = ArtistSourceResult{source, std::nullopt, searchErrorText(answer.error()),
                                               candidate};
            }
            searchArtists(std::move(candidates), source, page, limit, stop, std::move(done),
                          index + 1, std::move(first));
        });
}

void SearchViewModel::firstArtistPages(std::vector<std::string> candidates, std::size_t index,
                                       std::shared_ptr<std::vector<ArtistSourceResult>> outcomes,
                                       std::stop_token stop, std::function<void()> finished) {
    const auto& sources = MusicSources::browseSources;
    if (index >= sources.size()) return finished();
    auto next = [this, candidates, index, outcomes, stop, finished](ArtistSourceResult outcome) {
        outcomes->push_back(std::move(outcome));
        firstArtistPages(candidates, index + 1, outcomes, stop, finished);
    };
    searchArtists(candidates, sources[index], 1, artistPageLimit, stop, std::move(next));
}

void SearchViewModel::loadSubmittedArtists(const std::string& keyword, std::int64_t generation,
                                           Done done) {
    assign(isLoadingArtists_, true, &SearchViewModel::isLoadingArtistsChanged);
    auto outcomes = std::make_shared<std::vector<ArtistSourceResult>>();
    auto stop = searchStop_;
    firstArtistPages(candidateArtistKeywords(keyword), 0, outcomes, stop->get_token(),
                     [this, keyword, generation, outcomes, stop, done] {
        if (stop->stop_requested() || !isCurrentSearch(generation, keyword)) {
            if (generation == searchGeneration_)
                assign(isLoadingArtists_, false, &SearchViewModel::isLoadingArtistsChanged);
            return finish(done);
        }
        setArtistSourceStates(makeArtistSourceStates(*outcomes));
        setArtistResults(rankedArtists(keyword));
        std::set<MusicSource> failed;
        for (const auto& outcome : *outcomes)
            if (outcome.errorMessage) failed.insert(outcome.source);
        assign(failedArtistSources_, std::move(failed), &SearchViewModel::failedArtistSourcesChanged);
        assign(isLoadingArtists_, false, &SearchViewModel::isLoadingArtistsChanged);
        assign(hasLoadedArtists_, true, &SearchViewModel::hasLoadedArtistsChanged);
        assign(hasSearched_, true, &SearchViewModel::hasSearchedChanged);
        updateSearchError();
        finish(done);
    });
}

std::map<MusicSource, SearchViewModel::ArtistPaginationState> SearchViewModel::makeArtistSourceStates(
    const std::vector<ArtistSourceResult>& results) {
    std::map<MusicSource, ArtistPaginationState> states;
    for (const auto& result : results) {
        if (!result.page || result.errorMessage) continue;
        const auto& page = *result.page;
        ArtistPaginationState state;
        state.artists = firstPageEntries(page.list);
        const auto count = std::int64_t(state.artists.size());
        state.hasMore = count > 0 && (page.hasMore || state.artists.size() < page.list.size() ||
                                      page.total > count);
        state.total = std::max(count, page.total);
        state.page = page.page;
        state.limit = artistPageLimit;
        state.hasMore = state.hasMore && nextPageFits(state.page);
        state.keyword = result.candidate;
        states.emplace(result.source, std::move(state));
    }
    return states;
}

std::vector<ArtistSummary> SearchViewModel::deduplicated(const std::vector<ArtistSummary>& artists) {
    std::vector<ArtistSummary> kept;
    std::unordered_set<std::string> seen;
    for (const auto& artist : artists)
        if (seen.insert(artist.stableID()).second) kept.push_back(artist);
    return kept;
}

std::vector<ArtistSummary> SearchViewModel::rankedArtists(const std::string& keyword) const {
    std::vector<ArtistSummary> all;
    for (auto source : MusicSources::browseSources) {
        auto it = artistSourceStates_.find(source);
        if (it != artistSourceStates_.end())
            all.insert(all.end(), it->second.artists.begin(), it->second.artists.end());
    }
    // Always against the submitted keyword, also when a shorter candidate found the artists.
    return ArtistResultRanker::rank(deduplicated(all), keyword);
}

// Further pages.

void SearchViewModel::mergeArtistPage(const ArtistSearchPage& page, MusicSource source) {
    auto states = artistSourceStates_;
    auto it = states.find(source);
    const auto incoming = firstPageEntries(page.list);
    if (incoming.empty()) {
        if (it == states.end()) return;
        it->second.hasMore = false;
        return setArtistSourceStates(std::move(states));
    }
    std::vector<ArtistSummary> existing;
    std::int64_t existingTotal = 0;
    std::int64_t existingPage = std::max<std::int64_t>(page.page - 1, 1);
    std::string keyword;
    if (it != states.end()) {
        existing = it->second.artists;
        existingTotal = it->second.total;
        existingPage = it->second.page;
        keyword = it->second.keyword;
    }
    existing.insert(existing.end(), incoming.begin(), incoming.end());
    ArtistPaginationState state;
    state.artists = deduplicated(existing);
    const auto count = std::int64_t(state.artists.size());
    const auto reported = std::max(page.total, existingTotal);
    state.total = std::max(count, reported);
    state.page = std::max(page.page, existingPage);
    state.limit = artistPageLimit;
    state.hasMore = (page.hasMore || incoming.size() < page.list.size() || count < reported) &&
                    nextPageFits(state.page);
    state.keyword = std::move(keyword);
    states[source] = std::move(state);
    setArtistSourceStates(std::move(states));
}

void SearchViewModel::requestArtistPage(const std::string& keyword, MusicSource source,
                                        std::int64_t page,
                                        std::function<void(ArtistSourceResult)> done) {
    runBlocking<ArtistSearchPage>(
        searchStop_->get_token(),
        [&runtime = runtime_, keyword, source, page](std::stop_token token) {
            return runtime.searchArtists(keyword, source, int(page), int(artistPageLimit), token);
        },
        [source, keyword, done = std::move(done)](TaskResult<ArtistSearchPage> answer) {
            if (answer.ok()) return done({source, std::move(answer.value()), std::nullopt, keyword});
            if (isCancellation(answer.error())) return done({source, std::nullopt, std::nullopt, keyword});
            done({source, std::nullopt, searchErrorText(answer.error()), keyword});
        });
}

void SearchViewModel::loadMoreArtists(Done done) {
    if (!isArtistResultsExpanded_ || isLoadingMoreArtists_ || !submittedKeyword_ ||
        trimmedQuery() != *submittedKeyword_) {
        return finish(done);
    }
    struct Request {
        MusicSource source;
        std::int64_t page;
        std::string keyword;
    };
    const auto keyword = *submittedKeyword_;
    std::vector<Request> requests;
    for (auto source : MusicSources::browseSources) {
        auto it = artistSourceStates_.find(source);
        if (it == artistSourceStates_.end() || !it->second.hasMore ||
            artistExpansionFailedSources_.contains(source) || !nextPageFits(it->second.page)) {
            continue;
        }
        // The candidate that found the first page; page 2 of the whole keyword may not exist.
        const auto& asked = it->second.keyword.empty() ? keyword : it->second.keyword;
        requests.push_back({source, it->second.page + 1, asked});
    }
    if (requests.empty()) return finish(done);

    const auto generation = searchGeneration_;
    assign(isLoadingMoreArtists_, true, &SearchViewModel::isLoadingMoreArtistsChanged);
    auto results = std::make_shared<std::vector<std::optional<ArtistSourceResult>>>(requests.size());
    auto remaining = std::make_shared<std::size_t>(requests.size());
    auto apply = [this, keyword, generation, results, done] {
        if (generation != searchGeneration_ || submittedKeyword_ != keyword ||
            trimmedQuery() != keyword) {
            if (generation == searchGeneration_)
                assign(isLoadingMoreArtists_, false, &SearchViewModel::isLoadingMoreArtistsChanged);
            return finish(done);
        }
        auto failed = artistExpansionFailedSources_;
        for (const auto& result : *results) {
            if (result->page) {
                mergeArtistPage(*result->page, result->source);
                failed.erase(result->source);
            } else if (result->errorMessage) {
                failed.insert(result->source);
            }
        }
        setArtistExpansionFailedSources(std::move(failed));
        setArtistResults(rankedArtists(keyword));
        assign(isLoadingMoreArtists_, false, &SearchViewModel::isLoadingMoreArtistsChanged);
        finish(done);
    };
    for (std::size_t i = 0; i < requests.size(); ++i) {
        requestArtistPage(requests[i].keyword, requests[i].source, requests[i].page,
                          [results, remaining, apply, i](ArtistSourceResult result) {
                              (*results)[i] = std::move(result);
                              if (--*remaining == 0) apply();
                          });
    }
}

void SearchViewModel::retryArtistExpansion(MusicSource source, Done done) {
    auto it = artistSourceStates_.find(source);
    if (!artistExpansionFailedSources_.contains(source) ||
        retryingArtistExpansionSources_.contains(source) || !isArtistResultsExpanded_ ||
        !submittedKeyword_ || it == artistSourceStates_.end() ||
        trimmedQuery() != *submittedKeyword_ || !nextPageFits(it->second.page)) {
        return finish(done);
    }
    const auto keyword = *submittedKeyword_;
    const auto generation = searchGeneration_;
    auto retrying = retryingArtistExpansionSources_;
    retrying.insert(source);
    assign(retryingArtistExpansionSources_, std::move(retrying),
           &SearchViewModel::retryingArtistExpansionSourcesChanged);
    const auto& asked = it->second.keyword.empty() ? keyword : it->second.keyword;
    requestArtistPage(asked, source, it->second.page + 1,
                      [this, keyword, generation, source, done](ArtistSourceResult result) {
        const bool current = generation == searchGeneration_ && submittedKeyword_ == keyword &&
                             trimmedQuery() == keyword;
        if (!current && generation != searchGeneration_) return finish(done);
        auto retrying = retryingArtistExpansionSources_;
        retrying.erase(source);
        assign(retryingArtistExpansionSources_, std::move(retrying),
               &SearchViewModel::retryingArtistExpansionSourcesChanged);
        if (!current) return finish(done);
        if (result.page) {
            mergeArtistPage(*result.page, source);
            auto failed = artistExpansionFailedSources_;
            failed.erase(source);
            setArtistExpansionFailedSources(std::move(failed));
            setArtistResults(rankedArtists(keyword));
        }
        finish(done);
    });
}

// Albums and playlists.

void SearchViewModel::loadSubmittedAlbums(const std::string& keyword, std::int64_t generation,
                                          Done done) {
    assign(isLoadingAlbums_, true, &SearchViewModel::isLoadingAlbumsChanged);
    auto stop = searchStop_;
    runBlocking<AlbumPage>(
        stop->get_token(),
        [&runtime = runtime_, keyword](std::stop_token token) {
            return runtime.searchAlbums(keyword, MusicSource::wy, 1, albumPageLimit, token);
        },
        [this, keyword, generation, stop, done](TaskResult<AlbumPage> answer) {
            const bool cancelled = !answer.ok() && isCancellation(answer.error());
            if (stop->stop_requested() || cancelled || !isCurrentSearch(generation, keyword)) {
                if (generation == searchGeneration_)
                    assign(isLoadingAlbums_, false, &SearchViewModel::isLoadingAlbumsChanged);
                return finish(done);
            }
            if (answer.ok()) {
                auto list = std::move(answer.value().list);
                if (list.size() > std::size_t(albumPageLimit)) list.resize(std::size_t(albumPageLimit));
                setAlbumResults(std::move(list));
                assign(albumErrorMessage_, std::optional<std::string>(),
                       &SearchViewModel::albumErrorMessageChanged);
            } else {
                setAlbumResults({});
                assign(albumErrorMessage_, std::optional<std::string>(searchErrorText(answer.error())),
                       &SearchViewModel::albumErrorMessageChanged);
            }
            assign(isLoadingAlbums_, false, &SearchViewModel::isLoadingAlbumsChanged);
            assign(hasLoadedAlbums_, true, &SearchViewModel::hasLoadedAlbumsChanged);
            assign(hasSearched_, true, &SearchViewModel::hasSearchedChanged);
            updateSearchError();
            finish(done);
        });
}

void SearchViewModel::searchPlaylists(const std::string& keyword, MusicSource source,
                                      std::function<void(PlaylistSourceResult)> done) {
    runBlocking<PlaylistCatalogPage>(
        searchStop_->get_token(),
        [&runtime = runtime_, keyword, source](std::stop_token token) {
            return runtime.playlistSearch(keyword, source, 1, token);
        },
        [done = std::move(done)](TaskResult<PlaylistCatalogPage> answer) {
            if (answer.ok()) return done({std::move(answer.value()), std::nullopt});
            if (isCancellation(answer.error())) return done({std::nullopt, std::nullopt});
            done({std::nullopt, searchErrorText(answer.error())});
        });
}

void SearchViewModel::loadSubmittedPlaylists(const std::string& keyword, std::int64_t generation,
                                             Done done) {
    assign(isLoadingPlaylists_, true, &SearchViewModel::isLoadingPlaylistsChanged);
    auto stop = searchStop_;
    searchPlaylists(keyword, MusicSource::wy,
                    [this, keyword, generation, stop, done](PlaylistSourceResult result) {
        if (stop->stop_requested() || !isCurrentSearch(generation, keyword)) {
            if (generation == searchGeneration_)
                assign(isLoadingPlaylists_, false, &SearchViewModel::isLoadingPlaylistsChanged);
            return finish(done);
        }
        setPlaylistResults(PlaylistResultRanker::rank(
            result.page ? result.page->list : std::vector<PlaylistSummary>{}, keyword));
        assign(playlistErrorMessage_, result.errorMessage, &SearchViewModel::playlistErrorMessageChanged);
        assign(isLoadingPlaylists_, false, &SearchViewModel::isLoadingPlaylistsChanged);
        assign(hasLoadedPlaylists_, true, &SearchViewModel::hasLoadedPlaylistsChanged);
        assign(hasSearched_, true, &SearchViewModel::hasSearchedChanged);
        updateSearchError();
        finish(done);
    });
}

// Resets and derived values.

void SearchViewModel::resetArtistResults() {
    setArtistResults({});
    setArtistSourceStates({});
    assign(isArtistResultsExpanded_, false, &SearchViewModel::isArtistResultsExpandedChanged);
    assign(isLoadingMoreArtists_, false, &SearchViewModel::isLoadingMoreArtistsChanged);
    setArtistExpansionFailedSources({});
    assign(retryingArtistExpansionSources_, std::set<MusicSource>(),
           &SearchViewModel::retryingArtistExpansionSourcesChanged);
    assign(hasLoadedArtists_, false, &SearchViewModel::hasLoadedArtistsChanged);
    assign(isLoadingArtists_, false, &SearchViewModel::isLoadingArtistsChanged);
    refreshDerived();
}

void SearchViewModel::resetAlbumResults() {
    setAlbumResults({});
    assign(albumErrorMessage_, std::optional<std::string>(), &SearchViewModel::albumErrorMessageChanged);
    assign(isLoadingAlbums_, false, &SearchViewModel::isLoadingAlbumsChanged);
    assign(hasLoadedAlbums_, false, &SearchViewModel::hasLoadedAlbumsChanged);
}

void SearchViewModel::resetPlaylistResults() {
    setPlaylistResults({});
    assign(playlistErrorMessage_, std::optional<std::string>(),
           &SearchViewModel::playlistErrorMessageChanged);
    assign(isLoadingPlaylists_, false, &SearchViewModel::isLoadingPlaylistsChanged);
    assign(hasLoadedPlaylists_, false, &SearchViewModel::hasLoadedPlaylistsChanged);
}

std::vector<ArtistSummary> SearchViewModel::visibleArtistResults() const {
    if (!isArtistResultsExpanded_ && artistResults_.size() > std::size_t(artistPageLimit))
        return {artistResults_.begin(), artistResults_.begin() + artistPageLimit};
    return artistResults_;
}

bool SearchViewModel::canExpandArtistResults() const {
    if (!isArtistResultsExpanded_ && artistResults_.size() > std::size_t(artistPageLimit)) return true;
    return std::any_of(artistSourceStates_.begin(), artistSourceStates_.end(),
                       [](const auto& entry) { return entry.second.hasMore; });
}

std::vector<MusicSource> SearchViewModel::artistExpansionWarnings() const {
    std::vector<MusicSource> sources(artistExpansionFailedSources_.begin(),
                                     artistExpansionFailedSources_.end());
    std::sort(sources.begin(), sources.end(),
              [](MusicSource a, MusicSource b) { return rawValue(a) < rawValue(b); });
    return sources;
}

}  // namespace velto
