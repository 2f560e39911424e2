#pragma once

#include <set>
#include <string>
#include <vector>

#include "ui/views/TrackListActions.h"

namespace velto {

// Favourites as a set of keys; plays and favourite changes are recorded.
class FakeTrackListActions final : public TrackListActions {
public:
    bool isFavorite(const Track& track) const override {
        return favorites.count(track.musicID()) > 0;
    }
    bool hasLibrary() const override { return library; }
    void collect(const Track& track) override {
        calls.push_back("collect " + track.musicID());
        favorites.insert(track.musicID());
        emit favoritesChanged();
    }
    void removeFavorite(const Track& track) override {
        calls.push_back("remove " + track.musicID());
        favorites.erase(track.musicID());
        emit favoritesChanged();
    }
    void play(const std::vector<Track>& tracks, std::size_t index) override {
        calls.push_back("play " + std::to_string(tracks.size()) + " at " + std::to_string(index));
    }
    void setLibrary(bool open) {
        library = open;
        emit libraryChanged();
    }

    std::set<std::string> favorites;
    bool library = true;
    std::vector<std::string> calls;
};

}  // namespace velto
