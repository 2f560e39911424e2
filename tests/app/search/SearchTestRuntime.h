#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Cancellation.h"
#include "foundation/ManualMainQueue.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceRuntime.h"

namespace velto::searchtest {

// A runtime that answers from a script, chosen when the call runs. Calls are logged as
// "<operation>:<keyword>[:<page>]".
class SearchTestRuntime : public SourceRuntime {
  public:
    template <class T>
    using Script = std::map<std::string, std::function<T()>>;

    std::vector<std::string> calls;
    Script<SearchPage> songs;                // by keyword
    Script<std::vector<std::string>> tips;   // by keyword
    std::function<std::vector<std::string>()> hot;
    Script<ArtistSearchPage> artists;        // by "<keyword>:<page>"
    Script<AlbumPage> albums;                // by keyword
    Script<PlaylistCatalogPage> playlists;   // by keyword

    template <class T>
    static std::function<T()> failing(std::string message) {
        return [message]() -> T { throw SourceError::source(message); };
    }
    template <class T>
    static std::function<T()> cancelled() {
        return []() -> T { throw CancellationError(); };
    }

    SearchPage search(const std::string& query, MusicSource, int page, std::stop_token) override {
        calls.push_back("search:" + query + ":" + std::to_string(page));
        return answer(songs, query, SearchPage{});
    }
    LyricInfo lyric(const Track&, std::stop_token) override { return {}; }
    std::string picURL(const Track&, std::stop_token) override { return {}; }
    std::vector<std::string> tipSearch(const std::string& query, std::stop_token) override {
        calls.push_back("tip:" + query);
        return answer(tips, query, std::vector<std::string>{});
    }
    std::vector<std::string> hotSearch(MusicSource, std::stop_token) override {
        calls.push_back("hot");
        return hot ? hot() : std::vector<std::string>{};
    }
    using SourceRuntime::searchArtists;
    ArtistSearchPage searchArtists(const std::string& query, MusicSource source, int page, int limit,
                                   std::stop_token) override {
        const auto key = query + ":" + std::to_string(page);
        calls.push_back("artists:" + key);
        return answer(artists, key, ArtistSearchPage({}, 0, source, page, limit));
    }
    AlbumPage searchAlbums(const std::string& query, MusicSource, int, int limit,
                           std::stop_token) override {
        calls.push_back("albums:" + query + ":" + std::to_string(limit));
        return answer(albums, query, AlbumPage{});
    }
    PlaylistCatalogPage playlistSearch(const std::string& query, MusicSource, int,
                                       std::stop_token) override {
        calls.push_back("playlists:" + query);
        return answer(playlists, query, PlaylistCatalogPage{});
    }

  private:
    template <class T>
    static T answer(const Script<T>& script, const std::string& key, T fallback) {
        auto it = script.find(key);
        return it == script.end() ? fallback : it->second();
    }
};

// Blocking jobs parked until the test releases them, in any order; each release also runs what
// the job posted to the main queue.
class HeldJobs {
  public:
    explicit HeldJobs(ManualMainQueue& queue) : queue_(queue) {}
    void submit(std::function<void()> job) { jobs_.push_back(std::move(job)); }
    std::size_t submitted() const { return jobs_.size(); }
    std::size_t pending() const {
        std::size_t count = 0;
        for (const auto& job : jobs_) count += job ? 1 : 0;
        return count;
    }
    void release(std::size_t index) {
        run(index);
        queue_.runPending();
    }
    // The job alone: what it posted waits in the main queue.
    void run(std::size_t index) {
        auto job = std::move(jobs_.at(index));
        jobs_.at(index) = nullptr;
        if (job) job();
    }
    // Releases everything, including jobs the released ones lead to.
    void releaseAll() {
        for (std::size_t i = 0; i < jobs_.size(); ++i) release(i);
        queue_.runPending();
    }

  private:
    ManualMainQueue& queue_;
    std::vector<std::function<void()>> jobs_;
};

inline Track song(const std::string& id, const std::string& title, const std::string& artist,
                  MusicSource source = MusicSource::wy) {
    Track track;
    track.source = source;
    track.songmid = id;
    track.title = title;
    track.artist = artist;
    track.payload = "{}";
    return track;
}

inline ArtistSummary artist(const std::string& id, const std::string& name) {
    ArtistSummary summary;
    summary.id = id;
    summary.name = name;
    return summary;
}

inline PlaylistSummary playlist(const std::string& id, const std::string& name,
                                const std::string& author = {},
                                std::optional<std::string> desc = std::nullopt) {
    PlaylistSummary summary;
    summary.id = id;
    summary.name = name;
    summary.author = author;
    summary.desc = std::move(desc);
    return summary;
}

}  // namespace velto::searchtest
