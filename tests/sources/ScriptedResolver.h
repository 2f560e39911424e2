#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sources/resolving/PlaybackURLResolving.h"

namespace velto::testing {

// A resolver whose answer per call is scripted; it records every call it gets.
class ScriptedResolver : public PlaybackURLRefreshing, public PlaybackQualityReporting {
  public:
    struct Call {
        Quality quality;
        bool refreshing;
    };
    // Returns the address or throws.
    using Script = std::function<std::string(Quality quality, const std::stop_token& stop)>;

    ScriptedResolver(std::set<MusicSource> sources, Script script)
        : sources_(std::move(sources)), script_(std::move(script)) {}

    std::string musicURL(const Track&, Quality quality, std::stop_token stop) override {
        calls.push_back({quality, false});
        return script_(quality, stop);
    }
    std::string refreshMusicURL(const Track&, Quality quality, std::stop_token stop) override {
        calls.push_back({quality, true});
        return script_(quality, stop);
    }
    bool supportsPlayback(MusicSource source) const override { return sources_.contains(source); }
    std::optional<Quality> consumeLastResolvedQuality() override {
        return std::exchange(reported, std::nullopt);
    }

    std::vector<Call> calls;
    std::optional<Quality> reported;

  private:
    std::set<MusicSource> sources_;
    Script script_;
};

// The same without the optional capabilities.
class PlainResolver : public PlaybackURLResolving {
  public:
    PlainResolver(std::set<MusicSource> sources, ScriptedResolver::Script script)
        : sources_(std::move(sources)), script_(std::move(script)) {}

    std::string musicURL(const Track&, Quality quality, std::stop_token stop) override {
        ++calls;
        return script_(quality, stop);
    }
    bool supportsPlayback(MusicSource source) const override { return sources_.contains(source); }

    int calls = 0;

  private:
    std::set<MusicSource> sources_;
    ScriptedResolver::Script script_;
};

inline Track makeTrack(MusicSource source = MusicSource::wy, std::string songmid = "1001") {
    Track track;
    track.source = source;
    track.songmid = std::move(songmid);
    track.title = "歌";
    track.artist = "人";
    return track;
}

// The message of the exception `work` throws.
inline std::string messageOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        return error.what();
    }
    ADD_FAILURE() << "expected a failure";
    return {};
}

}  // namespace velto::testing
