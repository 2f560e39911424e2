#include "playback/PlaybackQueue.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <unordered_set>
#include <utility>

#include "sources/model/MusicSource.h"

namespace velto {

PlaybackQueue::PlaybackQueue(const std::vector<Track>& tracks,
                             std::optional<std::ptrdiff_t> currentIndex, RandomIndex randomIndex)
    : randomIndex_(std::move(randomIndex)) {
    canonicalEntries_.reserve(tracks.size());
    for (const auto& track : tracks) canonicalEntries_.push_back({freshID(), track});
    effectiveEntries_ = canonicalEntries_;
    if (currentIndex && *currentIndex >= 0 &&
        *currentIndex < static_cast<std::ptrdiff_t>(canonicalEntries_.size()))
        currentEntryID_ = canonicalEntries_[*currentIndex].id;
}

PlaybackQueue::RandomIndex PlaybackQueue::uniformRandomIndex() {
    return [](std::ptrdiff_t lower, std::ptrdiff_t upper) -> std::ptrdiff_t {
        if (upper <= lower) return lower;
        thread_local std::mt19937_64 engine{std::random_device{}()};
        return std::uniform_int_distribution<std::ptrdiff_t>(lower, upper - 1)(engine);
    };
}

PlaybackQueue::EntryID PlaybackQueue::freshID() {
    // Unique for the life of the process, which is all that entry identity needs.
    static std::atomic<EntryID> counter{0};
    return ++counter;
}

std::ptrdiff_t PlaybackQueue::find(const Entries& entries, EntryID id) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].id == id) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::optional<std::size_t> PlaybackQueue::effectivePosition(std::optional<EntryID> id) const {
    if (!id) return std::nullopt;
    auto position = find(effectiveEntries_, *id);
    if (position < 0) return std::nullopt;
    return static_cast<std::size_t>(position);
}

std::optional<Track> PlaybackQueue::current() const {
    auto position = effectivePosition(currentEntryID_);
    if (!position) return std::nullopt;
    return effectiveEntries_[*position].track;
}

std::vector<Track> PlaybackQueue::tracks() const {
    std::vector<Track> result;
    result.reserve(effectiveEntries_.size());
    for (const auto& entry : effectiveEntries_) result.push_back(entry.track);
    return result;
}

std::optional<std::size_t> PlaybackQueue::currentIndex() const {
    return effectivePosition(currentEntryID_);
}

bool PlaybackQueue::hasSameTracks(const std::vector<Track>& tracks) const {
    std::set<std::string> mine;
    for (const auto& entry : canonicalEntries_) mine.insert(entry.track.musicID());
    std::set<std::string> theirs;
    for (const auto& track : tracks) theirs.insert(track.musicID());
    return mine == theirs;
}

// Navigation.

std::optional<PlaybackQueue::EntryID> PlaybackQueue::nextUnplayedID(std::size_t after) const {
    const auto n = effectiveEntries_.size();
    for (std::size_t step = 1; step <= n; ++step) {
        const auto& entry = effectiveEntries_[(after + step) % n];
        if (!playedMusicIDs_.contains(entry.track.musicID())) return entry.id;
    }
    return std::nullopt;
}

void PlaybackQueue::transition(EntryID to, bool clearForward) {
    auto position = find(effectiveEntries_, to);
    if (position < 0) return;
    if (currentEntryID_ && *currentEntryID_ != to) history_.push_back(*currentEntryID_);
    currentEntryID_ = to;
    playedMusicIDs_.insert(effectiveEntries_[position].track.musicID());
    if (clearForward) forwardHistory_.clear();
    refreshNextShuffleCycle();
}

std::optional<PlaybackQueue::EntryID> PlaybackQueue::popLastValid(
    std::vector<EntryID>& stack) const {
    while (!stack.empty()) {
        auto id = stack.back();
        stack.pop_back();
        if (find(canonicalEntries_, id) >= 0) return id;
    }
    return std::nullopt;
}

std::optional<Track> PlaybackQueue::peekNext(bool wrapping) const {
    auto position = effectivePosition(currentEntryID_);
    if (!position) {
        if (effectiveEntries_.empty()) return std::nullopt;
        return effectiveEntries_.front().track;
    }
    for (auto it = forwardHistory_.rbegin(); it != forwardHistory_.rend(); ++it) {
        auto found = find(effectiveEntries_, *it);
        if (found >= 0) return effectiveEntries_[found].track;
    }
    const auto n = effectiveEntries_.size();
    if (!isShuffled_) {
        if (*position + 1 < n) return effectiveEntries_[*position + 1].track;
        if (wrapping) return effectiveEntries_.front().track;
        return std::nullopt;
    }
    if (auto id = nextUnplayedID(*position))
        return effectiveEntries_[find(effectiveEntries_, *id)].track;
    if (nextShuffleCycle_ && nextShuffleCycle_->size() >= 2) return (*nextShuffleCycle_)[1].track;
    return std::nullopt;
}

std::optional<Track> PlaybackQueue::advance(bool wrapping) {
    auto position = effectivePosition(currentEntryID_);
    if (!position) return std::nullopt;
    // Going forward first retraces the songs that backward moves left.
    if (auto id = popLastValid(forwardHistory_)) {
        transition(*id, false);
        return current();
    }
    std::optional<EntryID> next;
    const auto n = effectiveEntries_.size();
    if (isShuffled_) {
        next = nextUnplayedID(*position);
        if (!next) next = startNextShuffleCycle(*currentEntryID_);
    } else if (*position + 1 < n) {
        next = effectiveEntries_[*position + 1].id;
    } else if (wrapping) {
        next = effectiveEntries_.front().id;
    }
    if (!next) return std::nullopt;
    transition(*next, true);
    return current();
}

std::optional<Track> PlaybackQueue::retreat(bool wrapping) {
    auto position = effectivePosition(currentEntryID_);
    if (!position) return std::nullopt;
    if (auto id = popLastValid(history_)) {
        // Stepping back neither re-counts the song as heard nor grows the back history.
        forwardHistory_.push_back(*currentEntryID_);
        currentEntryID_ = *id;
        refreshNextShuffleCycle();
        return current();
    }
    if (isShuffled_ || !wrapping) return std::nullopt;
    const auto n = effectiveEntries_.size();
    const auto previous = *position == 0 ? n - 1 : *position - 1;
    if (effectiveEntries_[previous].id == *currentEntryID_) return current();
    forwardHistory_.push_back(*currentEntryID_);
    currentEntryID_ = effectiveEntries_[previous].id;
    refreshNextShuffleCycle();
    return current();
}

void PlaybackQueue::select(std::ptrdiff_t index) {
    if (index < 0 || index >= static_cast<std::ptrdiff_t>(effectiveEntries_.size())) return;
    transition(effectiveEntries_[index].id, true);
}

// Shuffle cycles.

PlaybackQueue::Entries PlaybackQueue::shuffled(Entries entries, const Entries* avoiding) const {
    if (entries.size() < 2) return entries;
    const Entries original = avoiding ? Entries{} : entries;
    for (auto k = static_cast<std::ptrdiff_t>(entries.size()) - 1; k >= 1; --k) {
        auto j = randomIndex_ ? randomIndex_(0, k + 1) : 0;
        if (j < 0 || j > k) j = 0;
        if (j != k) std::swap(entries[k], entries[j]);
    }
    // Never hand back the very order the caller wants to leave behind.
    if (entries == (avoiding ? *avoiding : original)) std::swap(entries[0], entries[1]);
    return entries;
}

PlaybackQueue::Entries PlaybackQueue::shuffledCycle(std::optional<EntryID> anchoredAt,
                                                    const std::set<std::string>* played) const {
    const auto& heard = played ? *played : playedMusicIDs_;
    const auto anchor = anchoredAt ? find(canonicalEntries_, *anchoredAt) : -1;
    if (anchor < 0) return shuffled(canonicalEntries_, nullptr);

    Entries unplayed, alreadyPlayed, rotation;
    const auto count = static_cast<std::ptrdiff_t>(canonicalEntries_.size());
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        if (i == anchor) continue;
        const auto& entry = canonicalEntries_[i];
        (heard.contains(entry.track.musicID()) ? alreadyPlayed : unplayed).push_back(entry);
    }
    for (std::ptrdiff_t i = anchor + 1; i < count; ++i) rotation.push_back(canonicalEntries_[i]);
    for (std::ptrdiff_t i = 0; i < anchor; ++i) rotation.push_back(canonicalEntries_[i]);

    Entries result{canonicalEntries_[anchor]};
    auto mixed = shuffled(std::move(unplayed), &rotation);
    result.insert(result.end(), mixed.begin(), mixed.end());
    result.insert(result.end(), alreadyPlayed.begin(), alreadyPlayed.end());
    return result;
}

void PlaybackQueue::refreshNextShuffleCycle() {
    nextShuffleCycle_.reset();
    if (!isShuffled_ || effectiveEntries_.size() < 2) return;
    auto position = effectivePosition(currentEntryID_);
    if (!position || nextUnplayedID(*position)) return;
    // Drawn ahead so the engine can load the first song of the next cycle early.
    const std::set<std::string> onlyCurrent{effectiveEntries_[*position].track.musicID()};
    nextShuffleCycle_ = shuffledCycle(currentEntryID_, &onlyCurrent);
}

std::optional<PlaybackQueue::EntryID> PlaybackQueue::startNextShuffleCycle(EntryID from) {
    if (effectiveEntries_.size() < 2) return std::nullopt;
    playedMusicIDs_.clear();
    if (auto position = find(effectiveEntries_, from); position >= 0)
        playedMusicIDs_.insert(effectiveEntries_[position].track.musicID());
    // The drawn cycle is used as it is, so the song peekNext announced is the one that plays.
    Entries order =
        nextShuffleCycle_ ? std::move(*nextShuffleCycle_) : shuffledCycle(from, nullptr);
    nextShuffleCycle_.reset();
    effectiveEntries_ = std::move(order);
    if (effectiveEntries_.size() < 2) return std::nullopt;
    return effectiveEntries_[1].id;
}

void PlaybackQueue::setShuffled(bool shuffled) {
    if (shuffled == isShuffled_) return;
    isShuffled_ = shuffled;
    if (currentEntryID_) {
        if (auto position = find(canonicalEntries_, *currentEntryID_); position >= 0)
            playedMusicIDs_.insert(canonicalEntries_[position].track.musicID());
    }
    effectiveEntries_ = shuffled ? shuffledCycle(currentEntryID_, nullptr) : canonicalEntries_;
    forwardHistory_.clear();
    pruneNavigationState();
    refreshNextShuffleCycle();
}

// Editing.

void PlaybackQueue::replace(const std::vector<Track>& tracks, std::ptrdiff_t startingAt,
                            const std::set<std::string>& preservingPlayedMusicIDs) {
    canonicalEntries_.clear();
    canonicalEntries_.reserve(tracks.size());
    for (const auto& track : tracks) canonicalEntries_.push_back({freshID(), track});
    history_.clear();
    forwardHistory_.clear();
    currentEntryID_.reset();
    if (startingAt >= 0 && startingAt < static_cast<std::ptrdiff_t>(canonicalEntries_.size()))
        currentEntryID_ = canonicalEntries_[startingAt].id;

    playedMusicIDs_.clear();
    for (const auto& entry : canonicalEntries_) {
        auto key = entry.track.musicID();
        if (preservingPlayedMusicIDs.contains(key)) playedMusicIDs_.insert(std::move(key));
    }
    if (currentEntryID_) playedMusicIDs_.insert(canonicalEntries_[startingAt].track.musicID());

    effectiveEntries_ = isShuffled_ ? shuffledCycle(currentEntryID_, nullptr) : canonicalEntries_;
    refreshNextShuffleCycle();
}

void PlaybackQueue::insert(const Track& track, std::ptrdiff_t at) {
    insert(track, at, true);
}

void PlaybackQueue::append(const Track& track) {
    insert(track, static_cast<std::ptrdiff_t>(effectiveEntries_.size()), false);
}

void PlaybackQueue::insert(const Track& track, std::ptrdiff_t at, bool clearingForwardHistory) {
    Entry entry{freshID(), track};
    const auto position = static_cast<std::size_t>(
        std::clamp<std::ptrdiff_t>(at, 0, static_cast<std::ptrdiff_t>(effectiveEntries_.size())));
    if (!isShuffled_) {
        canonicalEntries_.insert(canonicalEntries_.begin() + position, std::move(entry));
        effectiveEntries_ = canonicalEntries_;
    } else {
        effectiveEntries_.insert(effectiveEntries_.begin() + position, entry);
        const auto listPosition = canonicalInsertionIndex(position);
        canonicalEntries_.insert(canonicalEntries_.begin() + listPosition, std::move(entry));
    }
    if (clearingForwardHistory) forwardHistory_.clear();
    // The new song is unheard, so an exhausted cycle may be open again.
    refreshNextShuffleCycle();
}

std::size_t PlaybackQueue::canonicalInsertionIndex(std::size_t forEffectiveIndex) const {
    const auto k = forEffectiveIndex;
    if (k >= 1) {
        if (auto j = find(canonicalEntries_, effectiveEntries_[k - 1].id); j >= 0)
            return static_cast<std::size_t>(j) + 1;
    }
    if (k + 1 < effectiveEntries_.size()) {
        if (auto j = find(canonicalEntries_, effectiveEntries_[k + 1].id); j >= 0)
            return static_cast<std::size_t>(j);
    }
    return canonicalEntries_.size();
}

void PlaybackQueue::move(const std::set<std::ptrdiff_t>& fromOffsets, std::ptrdiff_t toOffset) {
    const auto n = static_cast<std::ptrdiff_t>(effectiveEntries_.size());
    std::vector<std::ptrdiff_t> kept;
    for (auto offset : fromOffsets)
        if (offset >= 0 && offset < n) kept.push_back(offset);
    if (kept.empty()) return;

    Entries moving;
    for (auto offset : kept) moving.push_back(effectiveEntries_[offset]);
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
        effectiveEntries_.erase(effectiveEntries_.begin() + *it);
    const auto below = std::count_if(kept.begin(), kept.end(),
                                     [&](std::ptrdiff_t offset) { return offset < toOffset; });
    const auto insertion = std::clamp<std::ptrdiff_t>(
        toOffset - below, 0, static_cast<std::ptrdiff_t>(effectiveEntries_.size()));
    effectiveEntries_.insert(effectiveEntries_.begin() + insertion, moving.begin(), moving.end());

    // While shuffled a move only rearranges the current cycle.
    if (!isShuffled_) canonicalEntries_ = effectiveEntries_;
    forwardHistory_.clear();
    refreshNextShuffleCycle();
}

std::optional<Track> PlaybackQueue::remove(std::ptrdiff_t at) {
    if (at < 0 || at >= static_cast<std::ptrdiff_t>(effectiveEntries_.size())) return std::nullopt;
    Entry removed = std::move(effectiveEntries_[at]);
    effectiveEntries_.erase(effectiveEntries_.begin() + at);
    if (auto j = find(canonicalEntries_, removed.id); j >= 0)
        canonicalEntries_.erase(canonicalEntries_.begin() + j);

    if (currentEntryID_ == removed.id) {
        const auto position = static_cast<std::size_t>(at);
        if (effectiveEntries_.empty())
            currentEntryID_.reset();
        else if (position < effectiveEntries_.size())
            currentEntryID_ = effectiveEntries_[position].id;
        else
            currentEntryID_ = effectiveEntries_.back().id;
    }
    forwardHistory_.clear();
    pruneNavigationState();
    refreshNextShuffleCycle();
    return std::move(removed.track);
}

void PlaybackQueue::clearUpcoming() {
    auto position = effectivePosition(currentEntryID_);
    if (!position) return;
    std::unordered_set<EntryID> removed;
    for (auto i = *position + 1; i < effectiveEntries_.size(); ++i)
        removed.insert(effectiveEntries_[i].id);
    effectiveEntries_.resize(*position + 1);
    std::erase_if(canonicalEntries_,
                  [&](const Entry& entry) { return removed.contains(entry.id); });
    forwardHistory_.clear();
    pruneNavigationState();
    refreshNextShuffleCycle();
}

void PlaybackQueue::updateTrack(const Track& track) {
    const auto key = track.musicID();
    auto update = [&](Entries& entries) {
        for (auto& entry : entries)
            if (entry.track.musicID() == key) entry.track = track;
    };
    update(canonicalEntries_);
    update(effectiveEntries_);
    if (nextShuffleCycle_) update(*nextShuffleCycle_);
}

void PlaybackQueue::pruneNavigationState() {
    std::unordered_set<EntryID> valid;
    std::set<std::string> queuedKeys;
    for (const auto& entry : canonicalEntries_) {
        valid.insert(entry.id);
        queuedKeys.insert(entry.track.musicID());
    }
    auto invalid = [&](EntryID id) { return !valid.contains(id); };
    std::erase_if(history_, invalid);
    std::erase_if(forwardHistory_, invalid);
    std::erase_if(playedMusicIDs_,
                  [&](const std::string& key) { return !queuedKeys.contains(key); });
    if (currentEntryID_ && invalid(*currentEntryID_)) {
        if (effectiveEntries_.empty())
            currentEntryID_.reset();
        else
            currentEntryID_ = effectiveEntries_.front().id;
    }
}

std::optional<PlaybackQueue::Selection> PlaybackQueue::playableSelection(
    const std::vector<Track>& tracks, std::optional<std::ptrdiff_t> startingAt) {
    Selection selection;
    bool startKept = false;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const auto& track = tracks[i];
        if (!isEnabled(track.source) || !track.isPlayable()) continue;
        if (startingAt && *startingAt == static_cast<std::ptrdiff_t>(i)) {
            selection.index = selection.tracks.size();
            startKept = true;
        }
        selection.tracks.push_back(track);
    }
    if (selection.tracks.empty()) return std::nullopt;
    // A request to start at a song that may not play is refused as a whole.
    if (startingAt && !startKept) return std::nullopt;
    return selection;
}

bool PlaybackQueue::operator==(const PlaybackQueue& other) const {
    return canonicalEntries_ == other.canonicalEntries_ &&
           effectiveEntries_ == other.effectiveEntries_ &&
           currentEntryID_ == other.currentEntryID_ && history_ == other.history_ &&
           forwardHistory_ == other.forwardHistory_ && playedMusicIDs_ == other.playedMusicIDs_ &&
           isShuffled_ == other.isShuffled_ && nextShuffleCycle_ == other.nextShuffleCycle_;
}

}  // namespace velto
