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

}  // namespace

std::vector<Track> SearchResultRanker::deduplicated(const std::vector<Track>& songs) {
    std::vector<std::size_t> order(songs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return sourcePosition(songs[a].source) < sourcePosition(songs[b].source);
    });
    std::vector<Track> kept;
    std::unordered_set<std::string> seen;
    for (auto index : order) {
        const auto& song = songs[index];
        if (!isEnabled(song.source)) continue;
        auto title = SearchTextFolding::songForm(song.title);
        auto artist = SearchTextFolding::songForm(song.artist);
        // A musicID holds "_", which no folded form does, so the two kinds of key never meet.
        auto key = !title.empty() && !artist.empty() ? title + "|" + artist : song.musicID();
        if (seen.insert(std::move(key)).second) kept.push_back(song);
    }
    return kept;
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

std::vector<Track> SearchResultRanker::rank(const std::vector<Track>& songs,
                                            std::string_view keyword) {
    const auto query = SearchTextFolding::songForm(keyword);
    auto unique = deduplicated(songs);
    struct Scored {
        std::size_t position;
        int score;
    };
    std::vector<Scored> scored;
    scored.reserve(unique.size());
    for (std::size_t i = 0; i < unique.size(); ++i)
        scored.push_back({i, score(unique[i], query, keyword)});
    std::stable_sort(scored.begin(), scored.end(),
                     [](const Scored& a, const Scored& b) { return a.score > b.score; });
    std::vector<Track> ranked;
    ranked.reserve(scored.size());
    for (const auto& entry : scored) ranked.push_back(std::move(unique[entry.position]));
    return ranked;
}

}  // namespace velto
