#include "app/search/SearchResultRanker.h"

#include <algorithm>
#include <cstddef>
#include <unordered_set>

#include "app/search/SearchTextFolding.h"
#include "sources/model/MusicSource.h"

namespace velto {

namespace {

bool contains(std::string_view haystack, std::string_view needle) {
    return !needle.empty() && haystack.find(needle) != std::string_view::npos;
}

std::size_t sourcePosition(MusicSource source) {
    const auto& sources = MusicSources::searchSources;
    auto it = std::find(sources.begin(), sources.end(), source);
    return std::size_t(it - sources.begin());  // after every listed one when absent
}

bool isLowerLatin(char c) { return c >= 'a' && c <= 'z'; }

bool containsAsWord(std::string_view text, std::string_view word) {
    for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        const auto end = at + word.size();
        const bool before = at == 0 || !isLowerLatin(text[at - 1]);
        const bool after = end == text.size() || !isLowerLatin(text[end]);
        if (before && after) return true;
    }
    return false;
}

// A text folded once for all markers.
struct MarkerText {
    std::string folded;
    std::string form;
    explicit MarkerText(std::string_view text)
        : folded(SearchTextFolding::foldedName(text)), form(SearchTextFolding::songForm(folded)) {}
};

bool isAsciiMarker(std::string_view marker) {
    for (auto ascii : SearchResultRanker::asciiDerivativeMarkers)
        if (ascii == marker) return true;
    return false;
}

bool hasMarker(std::string_view marker, const MarkerText& text) {
    if (isAsciiMarker(marker)) return containsAsWord(text.folded, marker);
    return contains(text.form, SearchTextFolding::songForm(marker));
}

// A musicID holds "_", which no folded form does, so the two kinds of key never meet.
std::string deduplicationKey(const Track& song) {
    auto title = SearchTextFolding::songForm(song.title);
    auto artist = SearchTextFolding::songForm(song.artist);
    return !title.empty() && !artist.empty() ? title + "|" + artist : song.musicID();
}

// Positions of the enabled songs, grouped by search source, the first of each key.
template <class Songs, class SourceOf, class KeyOf>
std::vector<std::size_t> keptPositions(const Songs& songs, SourceOf sourceOf, KeyOf keyOf) {
    std::vector<std::size_t> order(songs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return sourcePosition(sourceOf(songs[a])) < sourcePosition(sourceOf(songs[b]));
    });
    std::vector<std::size_t> kept;
    std::unordered_set<std::string> seen;
    for (auto index : order) {
        if (!isEnabled(sourceOf(songs[index]))) continue;
        if (seen.insert(keyOf(songs[index])).second) kept.push_back(index);
    }
    return kept;
}

}  // namespace

std::vector<Track> SearchResultRanker::deduplicated(const std::vector<Track>& songs) {
    std::vector<Track> kept;
    for (auto index : keptPositions(
             songs, [](const Track& song) { return song.source; }, deduplicationKey)) {
        kept.push_back(songs[index]);
    }
    return kept;
}

std::vector<SearchResultRanker::ScoredSong> SearchResultRanker::scored(std::vector<Track> songs,
                                                                       std::string_view keyword) {
    const auto query = SearchTextFolding::songForm(keyword);
    std::vector<ScoredSong> out;
    out.reserve(songs.size());
    for (auto& song : songs) {
        auto key = deduplicationKey(song);
        const int points = score(song, query, keyword);
        const bool playable = song.isPlayable();
        out.push_back({std::move(song), std::move(key), points, playable});
    }
    return out;
}

std::vector<SearchResultRanker::ScoredSong> SearchResultRanker::ranked(std::vector<ScoredSong> songs) {
    const auto kept = keptPositions(
        songs, [](const ScoredSong& entry) { return entry.song.source; },
        [](const ScoredSong& entry) { return entry.key; });
    std::vector<ScoredSong> out;
    out.reserve(kept.size());
    for (auto index : kept) out.push_back(std::move(songs[index]));
    std::stable_sort(out.begin(), out.end(),
                     [](const ScoredSong& a, const ScoredSong& b) { return a.score > b.score; });
    return out;
}

std::vector<Track> SearchResultRanker::rank(const std::vector<Track>& songs,
                                            std::string_view keyword) {
    std::vector<Track> out;
    for (auto& entry : ranked(scored(songs, keyword))) out.push_back(std::move(entry.song));
    return out;
}

std::vector<std::string> SearchResultRanker::artistSegments(std::string_view artist) {
    std::vector<std::string> segments;
    std::size_t start = 0;
    auto cut = [&](std::size_t end) {
        auto form = SearchTextFolding::songForm(artist.substr(start, end - start));
        if (!form.empty()) segments.push_back(std::move(form));
    };
    for (std::size_t i = 0; i < artist.size();) {
        std::size_t matched = 0;
        for (auto separator : artistSeparators) {
            if (artist.substr(i, separator.size()) == separator) {
                matched = separator.size();
                break;
            }
        }
        if (matched == 0) {
            ++i;
            continue;
        }
        cut(i);
        i += matched;
        start = i;
    }
    cut(artist.size());
    return segments;
}

bool SearchResultRanker::containsDerivativeMarker(std::string_view marker, std::string_view text) {
    return hasMarker(marker, MarkerText(text));
}

int SearchResultRanker::score(const Track& song, std::string_view query, std::string_view rawQuery) {
    const auto titleKey = SearchTextFolding::songForm(song.title);
    int total = 0;
    if (titleKey == query) {
        total += 1200;
    } else if (!titleKey.empty() && (query.starts_with(titleKey) || query.ends_with(titleKey))) {
        total += 950;
    } else if (contains(query, titleKey)) {
        total += 800;
    } else if (contains(titleKey, query)) {
        total += 450;
    }

    const auto segments = artistSegments(song.artist);
    const bool named = std::any_of(segments.begin(), segments.end(),
                                   [&](const std::string& segment) { return contains(query, segment); });
    if (named) {
        const auto n = int(segments.size());
        total += n == 1 ? 600 : 420 - std::min(80 * (n - 1), 240);
    }

    const MarkerText songText(song.title + " " + song.artist);
    const MarkerText queryText(rawQuery);
    for (auto marker : derivativeMarkers) {
        if (hasMarker(marker, songText) && !hasMarker(marker, queryText)) total -= 700;
    }
    return total;
}

}  // namespace velto
