#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/artwork/MacArtworkLoader.h"

namespace velto {

// Loads wait until the test answers them by key (a song's key or an address).
struct FakeArtworkLoader {
    struct Pending {
        std::string key;
        MacArtworkLoader::Done done;
        bool cancelled = false;
    };

    MacArtworkLoader::Cancel start(std::string key, MacArtworkLoader::Done done) {
        auto load = std::make_shared<Pending>(Pending{std::move(key), std::move(done)});
        loads.push_back(load);
        return [load] { load->cancelled = true; };
    }
    // Answers the latest load of `key`, even a cancelled one (a late answer must be dropped).
    void answer(const std::string& key, std::optional<QImage> image) {
        for (auto it = loads.rbegin(); it != loads.rend(); ++it)
            if ((*it)->key == key) return (*it)->done(std::move(image));
    }

    std::vector<std::shared_ptr<Pending>> loads;
    MacArtworkLoader loader{
        [this](const Track& track, MacArtworkLoader::Done done) {
            return start(track.musicID(), std::move(done));
        },
        [this](const std::string& address, MacArtworkLoader::Done done) {
            return start(address, std::move(done));
        }};
};

inline QImage solidImage(QColor colour) {
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

}  // namespace velto
