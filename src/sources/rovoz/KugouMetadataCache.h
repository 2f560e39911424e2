#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace velto {

// Recent Kugou song detail answers by song id, kept in memory for a while so that lyrics,
// covers and details of a song just played need no further request.
class KugouMetadataCache {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::seconds lifetime{1200};
    static constexpr std::size_t largestAnswer = 262'144;
    static constexpr std::size_t mostEntries = 40;

    explicit KugouMetadataCache(Clock clock = [] { return std::chrono::steady_clock::now(); });

    // The answer while it has not expired; an expired entry is removed.
    std::optional<std::string> value(const std::string& songID);
    // Replaces the entry; answers above largestAnswer are not kept. Beyond mostEntries the
    // entry that expires first leaves.
    void insert(const std::string& data, const std::string& songID);
    std::size_t count() const;

  private:
    struct Entry {
        std::chrono::steady_clock::time_point expires;
        std::string data;
    };
    Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

}  // namespace velto
