#include "ui/notch/QuickNotchControllerFactory.h"

#include <QQuickWindow>

#include "app/MacAppModel.h"
#include "app/notch/NotchWindowController.h"
#include "ui/views/TrackListActions.h"
#include "ui/notch/NotchPlayerViewModel.h"
#include "ui/notch/QtNotchDesktopWatcher.h"
#include "ui/notch/QuickNotchPanelFactory.h"

namespace velto {

namespace {

// The application model's favourites as the player's favourite button needs them.
class ModelFavorites final : public TrackListActions {
  public:
    explicit ModelFavorites(MacAppModel& model, QObject* parent) : TrackListActions(parent), model_(model) {
        connect(&model, &MacAppModel::libraryTracksChanged, this, &TrackListActions::favoritesChanged);
        connect(&model, &MacAppModel::libraryChanged, this, &TrackListActions::libraryChanged);
    }
    bool isFavorite(const Track& track) const override { return model_.isFavorite(track); }
    bool hasLibrary() const override { return model_.libraryOpen(); }
    void collect(const Track& track) override { model_.collect(track); }
    void removeFavorite(const Track& track) override { model_.removeFavorite(track); }
    void play(const std::vector<Track>& tracks, std::size_t index) override {
        model_.play(tracks, static_cast<std::ptrdiff_t>(index));
    }

  private:
    MacAppModel& model_;
};

}  // namespace

QuickNotchControllerFactory::QuickNotchControllerFactory(QQmlEngine* engine, std::function<void()> openStatusPanel)
    : engine_(engine), openStatusPanel_(std::move(openStatusPanel)) {}

void QuickNotchControllerFactory::collectGarbage() {
    if (engine_) engine_->collectGarbage();
}

std::unique_ptr<NotchController> QuickNotchControllerFactory::make(MacAppModel& model) {
    MainQueue& queue = *model.environment().mainQueue;
    // The model owns the controller, which owns the panel and everything below it.
    auto* favorites = new ModelFavorites(model, nullptr);
    auto desktop = std::make_unique<QtNotchDesktopWatcher>();
    QtNotchDesktopWatcher* watcher = desktop.get();
    QuickNotchPanelFactory makePanel({
        .engine = engine_,
        .mainQueue = &queue,
        .playback = &model.playback(),
        .actions = favorites,
        .attach =
            [&model](NotchPlayerViewModel& player) {
                const auto lyrics = [&model, &player] { player.setLyrics(model.lyrics()); };
                const auto cover = [&model, &player] {
                    player.setCover(model.artwork() ? model.artwork()->image : nullptr);
                };
                QObject::connect(&model, &MacAppModel::lyricsChanged, &player, lyrics);
                QObject::connect(&model, &MacAppModel::artworkChanged, &player, cover);
                lyrics();
                cover();
            },
    });
    // The controller owns the watcher as well as the panel it is told of.
    auto controller = std::make_unique<NotchWindowController>(
        queue, std::move(desktop),
        [makePanel = std::move(makePanel), watcher](NotchWindowController& owner) -> std::unique_ptr<NotchPanel> {
            auto panel = makePanel(owner);
            if (panel) watcher->watchNotch(panel->window());
            return panel;
        });
    favorites->setParent(controller.get());
    if (openStatusPanel_) {
        QObject::connect(controller.get(), &NotchWindowController::openStatusPanelRequested, controller.get(),
                         openStatusPanel_, Qt::QueuedConnection);
    }
    return controller;
}

}  // namespace velto
