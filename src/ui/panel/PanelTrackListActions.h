#pragma once

#include "ui/views/TrackListActions.h"

namespace velto {

class MacAppModel;

// The application model as the track lists of the catalog pages see it.
class PanelTrackListActions : public TrackListActions {
    Q_OBJECT
  public:
    // `model` must outlive the actions.
    explicit PanelTrackListActions(MacAppModel& model, QObject* parent = nullptr);

    bool isFavorite(const Track& track) const override;
    bool hasLibrary() const override;
    void collect(const Track& track) override;
    void removeFavorite(const Track& track) override;
    void play(const std::vector<Track>& tracks, std::size_t index) override;

  private:
    MacAppModel& model_;
};

}  // namespace velto
