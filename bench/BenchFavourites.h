#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/AppModelFixture.h"
#include "library/exchange/PlaylistBackup.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto {

// The application model on the test environment with `count` favourites in its library and a
// status panel over it.
class FavouritesBench : public AppModelTest {
  public:
    explicit FavouritesBench(int count = 1000) {
        make();
        for (int i = 0; i < count; ++i)
            songs.push_back(song(std::to_string(i), "歌曲 " + std::to_string(i)));
        model->library()->importPersonalPlaylist(PlaylistBackup::encode("收藏", songs));
        model->reloadLibrary();
        panel = std::make_unique<MacStatusPanel>(*model);
    }
    ~FavouritesBench() override { panel.reset(); }
    void TestBody() override {}

    std::vector<Track> songs;
    std::unique_ptr<MacStatusPanel> panel;
};

}  // namespace velto
