#include "sources/model/TrackPayloadCache.h"

#include "foundation/text/BoundedJson.h"

namespace velto {

namespace {

std::shared_ptr<const nlohmann::json> emptyObject() {
    static const auto empty = std::make_shared<const nlohmann::json>(nlohmann::json::object());
    return empty;
}

}  // namespace

TrackPayloadCache& TrackPayloadCache::shared() {
    static TrackPayloadCache instance;
    return instance;
}

std::shared_ptr<const nlohmann::json> TrackPayloadCache::payload(const std::string& bytes) {
    lookups_.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard lock(mutex_);
        auto hit = index_.find(std::string_view(bytes));
        if (hit != index_.end()) {
            order_.splice(order_.begin(), order_, hit->second);
            return hit->second->second;
        }
    }

    // Parsed outside the lock: two threads missing on the same bytes both parse, and the later
    // store replaces an equal value.
    nlohmann::json parsed = BoundedJson::parse(bytes);
    if (!parsed.is_object()) return emptyObject();
    auto value = std::make_shared<const nlohmann::json>(std::move(parsed));

    std::lock_guard lock(mutex_);
    auto existing = index_.find(std::string_view(bytes));
    if (existing != index_.end()) {
        existing->second->second = value;
        order_.splice(order_.begin(), order_, existing->second);
        return value;
    }
    order_.emplace_front(bytes, value);
    // The key views the string inside the list node, which never moves.
    index_.emplace(std::string_view(order_.front().first), order_.begin());
    while (order_.size() > countLimit) {
        index_.erase(std::string_view(order_.back().first));
        order_.pop_back();
    }
    return value;
}

std::size_t TrackPayloadCache::count() const {
    std::lock_guard lock(mutex_);
    return order_.size();
}

}  // namespace velto
