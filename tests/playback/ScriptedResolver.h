#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Cancellation.h"
#include "sources/resolving/PlaybackURLResolving.h"

namespace velto {

// A resolver whose answers the test writes down beforehand: by default every song resolves to
// "https://cdn.test/<musicID>-<quality>.mp3"; a song can be made to fail, once or always.
class ScriptedResolver final : public PlaybackURLRefreshing, public PlaybackQualityReporting {
  public:
    struct Call {
        std::string musicID;
        Quality quality;
        bool refreshed;
    };

    std::string musicURL(const Track& track, Quality quality, std::stop_token stop) override {
        return answer(track, quality, false, stop);
    }
    std::string refreshMusicURL(const Track& track, Quality quality,
                                std::stop_token stop) override {
        return answer(track, quality, true, stop);
    }
    bool supportsPlayback(MusicSource source) const override {
        return source == MusicSource::wy || source == MusicSource::local;
    }
    std::optional<Quality> consumeLastResolvedQuality() override {
        std::lock_guard lock(mutex_);
        auto value = lastQuality_;
        lastQuality_.reset();
        return value;
    }

    static std::string urlFor(const std::string& musicID, Quality quality) {
        return "https://cdn.test/" + musicID + "-" + std::string(rawValue(quality)) + ".mp3";
    }

    // Every resolution of the song fails with `error` until cleared.
    void failAlways(const std::string& musicID, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        always_[musicID] = error;
    }
    void clearFailures() {
        std::lock_guard lock(mutex_);
        always_.clear();
        once_.clear();
    }
    // The next resolution of the song fails with `error`.
    void failOnce(const std::string& musicID, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        once_[musicID].push_back(error);
    }
    // The quality reported after each success; none reports nothing.
    void setReportedQuality(std::function<std::optional<Quality>(Quality asked)> report) {
        std::lock_guard lock(mutex_);
        report_ = std::move(report);
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t callCount() const { return calls().size(); }

  private:
    std::string answer(const Track& track, Quality quality, bool refreshed,
                       const std::stop_token& stop) {
        std::lock_guard lock(mutex_);
        auto id = track.musicID();
        calls_.push_back({id, quality, refreshed});
        throwIfCancelled(stop);
        if (auto it = once_.find(id); it != once_.end() && !it->second.empty()) {
            auto error = it->second.front();
            it->second.pop_front();
            std::rethrow_exception(error);
        }
        if (auto it = always_.find(id); it != always_.end()) std::rethrow_exception(it->second);
        lastQuality_ = report_ ? report_(quality) : std::nullopt;
        return urlFor(id, quality);
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::map<std::string, std::exception_ptr> always_;
    std::map<std::string, std::deque<std::exception_ptr>> once_;
    std::function<std::optional<Quality>(Quality)> report_;
    std::optional<Quality> lastQuality_;
};

}  // namespace velto
