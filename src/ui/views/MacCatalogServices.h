#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "app/AppTaskRunner.h"
#include "playback/PlaybackService.h"
#include "sources/model/SourceRuntime.h"
#include "ui/artwork/MacArtworkLoader.h"
#include "ui/views/TrackListActions.h"

namespace velto {

// What the catalog pages take from the application: the source runtime and the runner of its
// blocking calls, playback (the current row), the track-list actions (play, favourites) and
// the artwork loader. The application builds one; tests build one over fakes.
class MacCatalogServices : public QObject {
    Q_OBJECT
  public:
    // `playback`, `actions` and `artwork` may be null and must outlive the pages.
    MacCatalogServices(std::shared_ptr<SourceRuntime> runtime, AppTaskRunner runner,
                       PlaybackService* playback, TrackListActions* actions,
                       MacArtworkLoader* artwork, QObject* parent = nullptr)
        : QObject(parent), runtime_(std::move(runtime)), runner_(std::move(runner)),
          playback_(playback), actions_(actions), artwork_(artwork) {}

    const std::shared_ptr<SourceRuntime>& runtime() const { return runtime_; }
    const AppTaskRunner& runner() const { return runner_; }
    PlaybackService* playback() const { return playback_; }
    TrackListActions* actions() const { return actions_; }
    MacArtworkLoader* artwork() const { return artwork_; }

  private:
    std::shared_ptr<SourceRuntime> runtime_;
    AppTaskRunner runner_;
    QPointer<PlaybackService> playback_;
    QPointer<TrackListActions> actions_;
    QPointer<MacArtworkLoader> artwork_;
};

}  // namespace velto
