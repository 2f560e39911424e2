#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/AppModelFixture.h"
#include "app/search/SearchTestRuntime.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto::paneltest {

// The panel over the real application and search models, on the application tests' fakes: a
// temporary store, the fake player, the scripted resolver, held worker jobs and a runtime whose
// searches the test scripts.
class StatusPanelTest : public AppModelTest {
  protected:
    ~StatusPanelTest() override { panel.reset(); }

    void makePanel() {
        AppEnvironment env = environment();
        env.runtime = searchRuntime;
        model = std::make_unique<MacAppModel>(env);
        panel = std::make_unique<MacStatusPanel>(*model);
    }
    void favourites(const std::vector<std::string>& ids) {
        for (const auto& id : ids) model->collect(song(id));
        model->setNotice(std::nullopt);
    }
    std::vector<std::string> shownKeys() const {
        std::vector<std::string> out;
        for (const auto& row : panel->songList().rows()) out.push_back(row.track.musicID());
        return out;
    }
    static std::vector<std::string> keys(const std::vector<Track>& tracks) {
        std::vector<std::string> out;
        for (const auto& t : tracks) out.push_back(t.musicID());
        return out;
    }
    void searchSongs(const std::string& keyword, std::vector<Track> found) {
        searchRuntime->songs[keyword] = [found] { return SearchPage{found, std::int64_t(found.size()), 1}; };
        panel->selectTab("search");
        panel->editQuery(QString::fromStdString(keyword), false);
        panel->submitSearch();
        settle();
    }
    void advance(double seconds) { mainQueue.advance(velto::seconds(seconds)); }

    std::shared_ptr<searchtest::SearchTestRuntime> searchRuntime =
        std::make_shared<searchtest::SearchTestRuntime>();
    std::unique_ptr<MacStatusPanel> panel;
};

}  // namespace velto::paneltest
