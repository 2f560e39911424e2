#pragma once

#include <QImage>
#include <QObject>
#include <functional>
#include <optional>
#include <string>

#include "sources/model/Track.h"

namespace velto {

// The artwork views' way to the artwork layer: a song's cover by the song, and a picture named
// by catalogue data by its address (the layer decides which addresses may be fetched; nothing
// else loads pictures). Each load answers once on the main thread unless cancelled; a cover
// answered as missing that can be had after all is announced by the song's key.
class MacArtworkLoader : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<QImage>)>;  // none: no picture to be had
    using Cancel = std::function<void()>;
    using TrackLoad = std::function<Cancel(const Track&, Done)>;
    using AddressLoad = std::function<Cancel(const std::string& address, Done)>;

    MacArtworkLoader(TrackLoad track, AddressLoad address, QObject* parent = nullptr)
        : QObject(parent), track_(std::move(track)), address_(std::move(address)) {}

    bool loadsTracks() const { return bool(track_); }
    bool loadsAddresses() const { return bool(address_); }
    Cancel loadTrack(const Track& track, Done done) const { return track_(track, std::move(done)); }
    Cancel loadAddress(const std::string& address, Done done) const {
        return address_(address, std::move(done));
    }

signals:
    void coverCameLate(const QString& key);

private:
    TrackLoad track_;
    AddressLoad address_;
};

}  // namespace velto
