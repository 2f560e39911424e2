#pragma once

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

private:
    using Entry = std::pair<std::string, std::shared_ptr<const nlohmann::json>>;
    mutable std::mutex mutex_;
    std::list<Entry> order_;  // most recent first
    std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
};

}  // namespace velto
