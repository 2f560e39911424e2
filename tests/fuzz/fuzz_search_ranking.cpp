// Search keywords and result texts as any source or user may send them: the rankers and the
// artist candidates take arbitrary bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "app/search/ArtistResultRanker.h"
#include "app/search/PlaylistResultRanker.h"
#include "app/search/SearchResultRanker.h"
#include "app/search/SearchViewModel.h"

using namespace velto;

namespace {

// Fields are separated by NUL bytes: the keyword first, then title and artist pairs.
std::vector<std::string> fields(std::string_view input) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= input.size(); ++i) {
        if (i == input.size() || input[i] == '\0') {
            out.emplace_back(input.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fields(fuzz::text(data, size));
    const auto& keyword = parts.front();

    std::vector<Track> songs;
    std::vector<ArtistSummary> artists;
    std::vector<PlaylistSummary> playlists;
    const MusicSource sources[] = {MusicSource::wy, MusicSource::local, MusicSource::tx};
    for (std::size_t i = 1; i + 1 < parts.size(); i += 2) {
        Track track;
        track.source = sources[i % 3];
        track.songmid = std::to_string(i);
        track.title = parts[i];
        track.artist = parts[i + 1];
        songs.push_back(track);
        ArtistSummary artist;
        artist.id = std::to_string(i % 5);  // some repeats
        artist.name = parts[i];
        artists.push_back(artist);
        PlaylistSummary playlist;
        playlist.id = std::to_string(i);
        playlist.name = parts[i];
        playlist.author = parts[i + 1];
        playlist.desc = keyword;
        playlists.push_back(playlist);
    }

    const auto unique = SearchResultRanker::deduplicated(songs);
    const auto ranked = SearchResultRanker::rank(songs, keyword);
    FUZZ_CHECK(ranked.size() == unique.size());
    std::multiset<std::string> uniqueIDs, rankedIDs;
    for (const auto& track : unique) {
        FUZZ_CHECK(isEnabled(track.source));
        uniqueIDs.insert(track.musicID());
    }
    for (const auto& track : ranked) rankedIDs.insert(track.musicID());
    FUZZ_CHECK(uniqueIDs == rankedIDs);

    const auto rankedArtists = ArtistResultRanker::rank(artists, keyword);
    FUZZ_CHECK(rankedArtists.size() == artists.size());
    const auto rankedPlaylists = PlaylistResultRanker::rank(playlists, keyword);
    FUZZ_CHECK(rankedPlaylists.size() == playlists.size());
    FUZZ_CHECK(SearchViewModel::deduplicated(artists).size() <= std::min<std::size_t>(artists.size(), 5));

    const auto candidates = SearchViewModel::candidateArtistKeywords(keyword);
    std::set<std::string> distinct(candidates.begin(), candidates.end());
    FUZZ_CHECK(distinct.size() == candidates.size());
    for (const auto& candidate : candidates) FUZZ_CHECK(!candidate.empty());
    return 0;
}
