#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sources/model/Track.h"

namespace velto {

// The songs the engine plays: list order, play order (a shuffle cycle while shuffled), the current
// entry, back and forward history and the songs heard in the current cycle. A plain value: no
// clock, no side effects; randomness comes only from `randomIndex`.
class PlaybackQueue {
public:
    using EntryID = std::uint64_t;

    // One occurrence of a song; the same song queued twice gives two ids.
    struct Entry {
        EntryID id = 0;
        Track track;
        bool operator==(const Entry&) const = default;
    };

    // Draws an index in the half-open range [lower, upper); any answer outside it counts as
    // `lower`. Must be safe to call from any thread.
    using RandomIndex = std::function<std::ptrdiff_t(std::ptrdiff_t lower, std::ptrdiff_t upper)>;

    PlaybackQueue(const std::vector<Track>& tracks, std::optional<std::ptrdiff_t> currentIndex,
                  RandomIndex randomIndex);

    // A uniform draw from a per-thread engine, for callers without their own source.
    static RandomIndex uniformRandomIndex();

    std::optional<Track> current() const;
    std::vector<Track> tracks() const;
    std::optional<std::size_t> currentIndex() const;
    bool shuffleEnabled() const { return isShuffled_; }
    const std::set<std::string>& shuffledPlayedMusicIDs() const { return playedMusicIDs_; }
    bool hasSameTracks(const std::vector<Track>& tracks) const;

    std::optional<Track> peekNext(bool wrapping) const;
    std::optional<Track> advance(bool wrapping);
    std::optional<Track> retreat(bool wrapping);
    void select(std::ptrdiff_t index);
    void setShuffled(bool shuffled);

    void replace(const std::vector<Track>& tracks, std::ptrdiff_t startingAt,
                 const std::set<std::string>& preservingPlayedMusicIDs);
    void insert(const Track& track, std::ptrdiff_t at);
    void append(const Track& track);
    void insert(const Track& track, std::ptrdiff_t at, bool clearingForwardHistory);
    void move(const std::set<std::ptrdiff_t>& fromOffsets, std::ptrdiff_t toOffset);
    std::optional<Track> remove(std::ptrdiff_t at);
    void clearUpcoming();
    void updateTrack(const Track& track);

    struct Selection {
        std::vector<Track> tracks;
        std::optional<std::size_t> index;
        bool operator==(const Selection&) const = default;
    };
    // The songs of `tracks` that may enter the queue; refused as a whole when the song at
    // `startingAt` may not.
    static std::optional<Selection> playableSelection(const std::vector<Track>& tracks,
                                                      std::optional<std::ptrdiff_t> startingAt);

    // Compares everything but the random source.
    bool operator==(const PlaybackQueue& other) const;

private:
    using Entries = std::vector<Entry>;

    static EntryID freshID();
    static std::ptrdiff_t find(const Entries& entries, EntryID id);
    std::optional<std::size_t> effectivePosition(std::optional<EntryID> id) const;

    std::optional<EntryID> nextUnplayedID(std::size_t after) const;
    void transition(EntryID to, bool clearForward);
    std::optional<EntryID> popLastValid(std::vector<EntryID>& stack) const;
    Entries shuffled(Entries entries, const Entries* avoiding) const;
    Entries shuffledCycle(std::optional<EntryID> anchoredAt,
                          const std::set<std::string>* played) const;
    void refreshNextShuffleCycle();
    std::optional<EntryID> startNextShuffleCycle(EntryID from);
    std::size_t canonicalInsertionIndex(std::size_t forEffectiveIndex) const;
    void pruneNavigationState();

    Entries canonicalEntries_;
    Entries effectiveEntries_;
    std::optional<EntryID> currentEntryID_;
    std::vector<EntryID> history_;
    std::vector<EntryID> forwardHistory_;
    std::set<std::string> playedMusicIDs_;
    bool isShuffled_ = false;
    std::optional<Entries> nextShuffleCycle_;
    RandomIndex randomIndex_;
};

}  // namespace velto
