#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sources/rovoz/ChkszNetEaseProviding.h"

namespace velto {

// The RoVOz music-address call answering a set address and delivered quality (the wished one
// when none is set); it records the qualities it was asked for.
class ScriptedChkszNetEase : public ChkszNetEaseProviding {
  public:
    SearchPage search(const std::string&, int, int, std::stop_token) override { return {}; }
    LyricInfo lyric(const Track&, std::stop_token) override { return {}; }
    ChkszPlaybackResult musicURL(const Track&, Quality quality, std::stop_token) override {
        std::lock_guard lock(mutex_);
        asked_.push_back(quality);
        return {url_, delivered_.value_or(quality)};
    }

    void answer(std::string url, std::optional<Quality> delivered = std::nullopt) {
        std::lock_guard lock(mutex_);
        url_ = std::move(url);
        delivered_ = delivered;
    }
    std::vector<Quality> asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }

  private:
    mutable std::mutex mutex_;
    std::string url_;
    std::optional<Quality> delivered_;
    std::vector<Quality> asked_;
};

}  // namespace velto
