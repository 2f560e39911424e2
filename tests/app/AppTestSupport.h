#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/AppTaskRunner.h"
#include "foundation/ManualMainQueue.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceRuntime.h"
#include "sources/model/TrackPayloadCache.h"

namespace velto {

// Holds the models' blocking jobs until the test releases them, one at a time or all.
class HeldJobs {
  public:
    void submit(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    bool runOne() {
        std::function<void()> job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty()) return false;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
        return true;
    }
    std::size_t pending() const {
        std::lock_guard lock(mutex_);
        return jobs_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
};

// A runtime whose answers the test writes per operation; unscripted calls fail loudly.
class ScriptedSourceRuntime final : public SourceRuntime {
  public:
    std::function<ArtistSummary(const ArtistSummary&)> onArtistDetail;
    std::function<std::vector<Track>(const ArtistSummary&)> onPopular;
    std::function<AlbumPage(const ArtistSummary&, int)> onArtistAlbums;
    std::function<AlbumDetail(const AlbumSummary&)> onAlbumTracks;
    std::function<LyricInfo(const Track&)> onLyric;
    std::function<Track(const Track&)> onTrackDetail;
    std::function<std::string(const Track&)> onPicURL;

    template <class F, class... Args>
    static auto answer(const F& handler, const Args&... args) -> typename F::result_type {
        if (!handler) throw SourceError::source("unscripted");
        return handler(args...);
    }

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t count(const std::string& prefix) const {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& call : calls_) n += call.rfind(prefix, 0) == 0;
        return n;
    }

    SearchPage search(const std::string& query, MusicSource, int, std::stop_token) override {
        record("search " + query);
        throw SourceError::source("no search scripted");
    }
    LyricInfo lyric(const Track& track, std::stop_token) override {
        record("lyric " + track.musicID());
        return answer(onLyric, track);
    }
    std::string picURL(const Track& track, std::stop_token) override {
        record("picURL " + track.musicID());
        return answer(onPicURL, track);
    }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
    ArtistSummary artistDetail(const ArtistSummary& artist, std::stop_token) override {
        record("artistDetail " + artist.id);
        return answer(onArtistDetail, artist);
    }
    std::vector<Track> artistPopularTracks(const ArtistSummary& artist, std::stop_token) override {
        record("popular " + artist.id);
        return answer(onPopular, artist);
    }
    AlbumPage artistAlbums(const ArtistSummary& artist, int page, std::stop_token) override {
        record("artistAlbums " + artist.id + " " + std::to_string(page));
        return answer(onArtistAlbums, artist, page);
    }
    AlbumDetail albumTracks(const AlbumSummary& album, std::stop_token) override {
        record("albumTracks " + album.id);
        return answer(onAlbumTracks, album);
    }
    Track trackDetail(const Track& track, std::stop_token) override {
        record("trackDetail " + track.musicID());
        return answer(onTrackDetail, track);
    }

  private:
    void record(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

inline Track song(const std::string& songmid, const std::string& title = "") {
    Track track;
    track.source = MusicSource::wy;
    track.songmid = songmid;
    track.title = title.empty() ? "曲" + songmid : title;
    track.artist = "岚屿";
    track.album = "雾港";
    track.payload = "{}";
    return track;
}

// A song the source has withdrawn: its payload says so.
inline Track withdrawnSong(const std::string& songmid) {
    Track track = song(songmid);
    track.payload = R"({"st":-1})";
    return track;
}

// Runs held jobs and what they post until nothing is left; answers how many song payloads were
// looked up (TrackPayloadCache::lookups) while the main queue ran, not while the jobs did.
inline std::size_t settleCountingMainThreadReads(ManualMainQueue& mainQueue, HeldJobs& jobs) {
    std::size_t reads = 0;
    do {
        const auto before = TrackPayloadCache::shared().lookups();
        mainQueue.runPending();
        reads += TrackPayloadCache::shared().lookups() - before;
    } while (jobs.runOne());
    return reads;
}

inline AlbumSummary album(const std::string& id, std::optional<std::string> date = std::nullopt) {
    AlbumSummary value;
    value.id = id;
    value.name = "专辑" + id;
    value.artist = "岚屿";
    value.releaseDate = std::move(date);
    return value;
}

// Main queue and held worker jobs, stepped by the test.
struct AppTaskHarness {
    ManualMainQueue mainQueue;
    HeldJobs jobs;
    AppTaskRunner runner{mainQueue, [this](std::function<void()> job) { jobs.submit(std::move(job)); }};

    // Runs one held job and delivers its outcome.
    bool step() {
        mainQueue.runPending();
        const bool ran = jobs.runOne();
        mainQueue.runPending();
        return ran;
    }
    void settle() {
        while (step()) {
        }
    }
};

}  // namespace velto
