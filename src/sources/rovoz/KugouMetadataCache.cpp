#include "sources/rovoz/KugouMetadataCache.h"

namespace velto {

KugouMetadataCache::KugouMetadataCache(Clock clock) : clock_(std::move(clock)) {}

std::optional<std::string> KugouMetadataCache::value(const std::string& songID) {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(songID);
    if (found == entries_.end()) return std::nullopt;
    if (found->second.expires > clock_()) return found->second.data;
    entries_.erase(found);
    return std::nullopt;
}

void KugouMetadataCache::insert(const std::string& data, const std::string& songID) {
    if (data.size() > largestAnswer) return;
    std::lock_guard lock(mutex_);
    entries_[songID] = Entry{clock_() + lifetime, data};
    if (entries_.size() <= mostEntries) return;
    auto earliest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.expires < earliest->second.expires) earliest = it;
    }
    entries_.erase(earliest);
}

std::size_t KugouMetadataCache::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace velto
