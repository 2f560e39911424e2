#include "ui/panel/PanelTrackListActions.h"

#include "app/MacAppModel.h"

namespace velto {

PanelTrackListActions::PanelTrackListActions(MacAppModel& model, QObject* parent)
    : TrackListActions(parent), model_(model) {
    connect(&model_, &MacAppModel::libraryTracksChanged, this, &TrackListActions::favoritesChanged);
    connect(&model_, &MacAppModel::libraryChanged, this, &TrackListActions::libraryChanged);
}

bool PanelTrackListActions::isFavorite(const Track& track) const { return model_.isFavorite(track); }

bool PanelTrackListActions::hasLibrary() const { return model_.libraryOpen(); }

void PanelTrackListActions::collect(const Track& track) { model_.collect(track); }

void PanelTrackListActions::removeFavorite(const Track& track) { model_.removeFavorite(track); }

void PanelTrackListActions::play(const std::vector<Track>& tracks, std::size_t index) {
    model_.play(tracks, std::ptrdiff_t(index));
}

}  // namespace velto
