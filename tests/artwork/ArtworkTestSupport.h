#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "artwork/ArtworkHTTPClient.h"
#include "artwork/ArtworkImage.h"
#include "artwork/ArtworkJPEG.h"
#include "sources/model/SourceError.h"
#include "sources/model/SourceRuntime.h"

namespace velto::artworktest {

inline ArtworkImagePtr solid(int width, int height, std::uint8_t r, std::uint8_t g,
                             std::uint8_t b, std::uint8_t a = 255) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = r, pixels[i + 1] = g, pixels[i + 2] = b, pixels[i + 3] = a;
    }
    return ArtworkImage::make(width, height, std::move(pixels));
}

inline std::string jpeg(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return *ArtworkJPEG::encode(*solid(width, height, r, g, b), 0.9);
}

// PNG bytes of the picture (its premultiplied samples written as they are).
std::string png(const ArtworkImage& image);

// Red channel of the pixel: enough to tell the test pictures apart.
inline int redAt(const ArtworkImage& image, int x, int y) {
    return image.row(y)[static_cast<std::size_t>(x) * 4];
}

inline Track song(const std::string& songmid, MusicSource source = MusicSource::wy,
                  const std::string& payload = "{}") {
    Track track;
    track.source = source;
    track.songmid = songmid;
    track.title = "t";
    track.artist = "a";
    track.payload = payload;
    return track;
}

// Names "https://covers.test/<songmid>" for every song and counts the questions.
class ScriptedRuntime final : public SourceRuntime {
public:
    SearchPage search(const std::string&, MusicSource, int, std::stop_token) override { return {}; }
    LyricInfo lyric(const Track&, std::stop_token) override { return {}; }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { return {}; }
    std::string picURL(const Track& track, std::stop_token) override {
        ++calls;
        return "https://covers.test/" + track.songmid;
    }
    std::atomic<int> calls{0};
};

// Answers each address with bytes or an error. While held, downloads wait at the hold.
class ScriptedClient final : public ArtworkHTTPClient {
public:
    void answer(const std::string& url, std::string bytes, std::exception_ptr error = nullptr) {
        std::lock_guard lock(mutex_);
        script_[url] = {std::move(bytes), error};
    }
    void hold(bool held) {
        std::lock_guard lock(mutex_);
        held_ = held;
        changed_.notify_all();
    }
    void waitUntilHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return waiting_ > 0; });
    }
    int held() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    int count(const std::string& url) {
        std::lock_guard lock(mutex_);
        return counts_[url];
    }

    std::string data(const std::string& url, std::stop_token) override {
        std::unique_lock lock(mutex_);
        ++counts_[url], ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !held_; });
        --waiting_;
        auto [bytes, error] = script_[url];
        if (error) std::rethrow_exception(error);
        return bytes;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::pair<std::string, std::exception_ptr>> script_;
    std::map<std::string, int> counts_;
    bool held_ = false;
    int waiting_ = 0;
};

}  // namespace velto::artworktest
