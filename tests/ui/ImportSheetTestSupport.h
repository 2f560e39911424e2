#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "foundation/files/UserDefaults.h"
#include "library/store/LibraryStore.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/OnlinePlaylistImporting.h"
#include "library/store/VeltoModelContainer.h"
#include "support/TempDir.h"
#include "ui/views/OnlinePlaylistImportModel.h"

namespace velto::importsheet {

// Answers readings with what the test says and keeps the texts it was given, as given.
class FakeImporter final : public OnlinePlaylistImporting {
  public:
    std::function<OnlinePlaylistPreview(const std::string&)> onPreview;

    OnlinePlaylistPreview preview(std::string_view text, MusicSource, std::stop_token) override {
        {
            std::lock_guard lock(mutex_);
            inputs_.emplace_back(text);
        }
        return ScriptedSourceRuntime::answer(onPreview, std::string(text));
    }
    std::vector<std::string> inputs() const {
        std::lock_guard lock(mutex_);
        return inputs_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> inputs_;
};

inline OnlinePlaylistPreview previewOf(int songs, int missing = 0) {
    OnlinePlaylistPreview preview;
    preview.reference.id = "3001";
    preview.name = "雨夜通勤";
    for (int i = 1; i <= songs; ++i) preview.tracks.push_back(song(std::to_string(i), "第" + std::to_string(i) + "首"));
    preview.remoteTrackCount = songs + missing;
    preview.missingTrackCount = missing;
    return preview;
}

// A sheet over a fake importer and a real store in a fresh folder; readings wait in `tasks`.
struct ImportSheetHarness {
    ImportSheetHarness(bool withClose = true) {
        container = VeltoModelContainer::make(false, dir.path() / "Velto.store");
        store = std::make_shared<LibraryStore>(container, 100,
                                               std::make_shared<UserDefaults>(dir.path() / "defaults.json"));
        std::function<void()> onClose;
        if (withClose) onClose = [this] { ++closed; };
        sheet = std::make_unique<OnlinePlaylistImportModel>(importer, store, nullptr, tasks.runner,
                                                            [this] { ++imported; }, onClose);
    }
    void sql(const std::string& statement) { container->database().execute(statement); }

    TempDir dir;
    std::shared_ptr<VeltoModelContainer> container;
    std::shared_ptr<LibraryStore> store;
    std::shared_ptr<FakeImporter> importer = std::make_shared<FakeImporter>();
    AppTaskHarness tasks;
    int imported = 0;
    int closed = 0;
    std::unique_ptr<OnlinePlaylistImportModel> sheet;
};

}  // namespace velto::importsheet
