#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>

namespace velto {

// Process-wide memo of decoded song payloads, keyed by the payload bytes; holds at most
// `countLimit` entries and evicts the least recently used.
class TrackPayloadCache {
public:
    static constexpr std::size_t countLimit = 512;
    static TrackPayloadCache& shared();

    // The payload as a JSON object; an empty object for malformed JSON or a non-object (which
    // is never cached, so the next call parses again).
    std::shared_ptr<const nlohmann::json> payload(const std::string& bytes);
    std::size_t count() const;
    // How many payloads were asked for so far: a look-up hashes the whole payload and a miss
    // parses it, so this tells on which thread that work happens.
    std::size_t lookups() const { return lookups_.load(std::memory_order_relaxed); }

private:
    using Entry = std::pair<std::string, std::shared_ptr<const nlohmann::json>>;
    std::atomic<std::size_t> lookups_{0};
    mutable std::mutex mutex_;
    std::list<Entry> order_;  // most recent first
    std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
};

}  // namespace velto
