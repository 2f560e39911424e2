#pragma once

#include <QObject>
#include <cstddef>
#include <vector>

#include "sources/model/Track.h"

namespace velto {

// What a track list asks of the application: favourites, the open library and playing a list.
// The application model provides it; tests provide their own.
class TrackListActions : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isFavorite(const Track& track) const = 0;
    virtual bool hasLibrary() const = 0;
    virtual void collect(const Track& track) = 0;
    virtual void removeFavorite(const Track& track) = 0;
    // Plays the whole list from `index`; choosing a playable song is the application's business.
    virtual void play(const std::vector<Track>& tracks, std::size_t index) = 0;

signals:
    void favoritesChanged();
    void libraryChanged();
};

}  // namespace velto
