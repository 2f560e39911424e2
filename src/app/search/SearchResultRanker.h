#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sources/model/Track.h"

namespace velto {

// Orders song results: titles and artists the query names first, derivative versions the query
// did not ask for last. Stateless; every tie keeps the input order.
class SearchResultRanker {
  public:
    SearchResultRanker() = delete;

    static constexpr std::string_view artistSeparators[] = {"、", "&", ";", "/", ",", "，", "|"};
    static constexpr std::string_view derivativeMarkers[] = {"live", "dj",     "伴奏",     "钢琴",
                                                             "cover", "remix", "montagem", "原唱"};
    static constexpr std::string_view asciiDerivativeMarkers[] = {"live", "dj", "cover", "remix",
                                                                  "montagem"};

    // A song with what ranking needs of it for one keyword. Working it out folds every name,
    // which is the costly part, so it is done off the main thread before an answer is published.
    struct ScoredSong {
        Track song;
        std::string key;  // the de-duplication key
        int score = 0;
        // Track::isPlayable, which reads the song's record: decided here once, so that no list
        // reads records on the main thread.
        bool playable = true;
    };

    // Enabled songs, grouped by search source, one per title-and-artist key.
    static std::vector<Track> deduplicated(const std::vector<Track>& songs);
    static std::vector<Track> rank(const std::vector<Track>& songs, std::string_view keyword);

    static std::vector<ScoredSong> scored(std::vector<Track> songs, std::string_view keyword);
    // The enabled songs, de-duplicated as above, highest score first; folds nothing.
    static std::vector<ScoredSong> ranked(std::vector<ScoredSong> songs);

    // `query` is the keyword's song form, `rawQuery` the keyword as typed.
    static int score(const Track& song, std::string_view query, std::string_view rawQuery);
    static std::vector<std::string> artistSegments(std::string_view artist);
    // Latin markers count only as a separate word; the others anywhere.
    static bool containsDerivativeMarker(std::string_view marker, std::string_view text);
};

}  // namespace velto
