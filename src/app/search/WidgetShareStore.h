#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/search/WidgetPlaybackSnapshot.h"
#include "foundation/files/UserDefaults.h"

namespace velto {

// Publishes the playback snapshot and the current cover for a widget process: as a JSON file
// and a cover file in a shared folder, and as individual settings. This system has no widget
// host: shared mode uses a folder in the XDG data home and a settings file beside the user
// defaults, and asking for a widget reload does nothing. Usable from any thread.
class WidgetShareStore {
  public:
    // Names of the cross-process remote commands.
    struct DarwinNotification {
        static constexpr std::string_view togglePlay = "cn.quorvanel.velto.remote.togglePlay";
        static constexpr std::string_view nextTrack = "cn.quorvanel.velto.remote.next";
        static constexpr std::string_view previousTrack = "cn.quorvanel.velto.remote.previous";
        static constexpr std::string_view play = "cn.quorvanel.velto.remote.play";
        static constexpr std::string_view pause = "cn.quorvanel.velto.remote.pause";
        static constexpr std::string_view toggleShuffle = "cn.quorvanel.velto.remote.toggleShuffle";
        static constexpr std::string_view widgetReload = "cn.quorvanel.velto.remote.reload";
    };

    static constexpr std::string_view defaultAppGroupIdentifier = "group.cn.quorvanel.velto";
    static constexpr std::string_view snapshotFileName = "playback_snapshot.json";
    static constexpr std::string_view artworkFileName = "current_artwork.jpg";
    static constexpr std::string_view widgetKinds[] = {"NowPlayingWidget", "QuickShuffleWidget"};
    // A snapshot file larger than this is not read.
    static constexpr std::uintmax_t maxSnapshotFileSize = 1 << 20;

    struct Keys {
        static constexpr std::string_view snapshot = "velto.widget.playback_snapshot";
        static constexpr std::string_view title = "velto.widget.title";
        static constexpr std::string_view artist = "velto.widget.artist";
        static constexpr std::string_view album = "velto.widget.album";
        static constexpr std::string_view quality = "velto.widget.quality";
        static constexpr std::string_view isPlaying = "velto.widget.isPlaying";
        static constexpr std::string_view hasTrack = "velto.widget.hasTrack";
        static constexpr std::string_view isShuffleOn = "velto.widget.isShuffleOn";
        static constexpr std::string_view favoritesCount = "velto.widget.favoritesCount";
        static constexpr std::string_view updatedAt = "velto.widget.updatedAt";
    };

    // Shared mode when both are absent; otherwise exactly the given places (either may be absent,
    // and then nothing goes there). `defaults` must outlive the store.
    WidgetShareStore(UserDefaults* defaults, std::optional<std::filesystem::path> containerURL);

    // The process-wide store in shared mode.
    static WidgetShareStore& shared();
    static std::string appGroupIdentifier();
    const std::string& resolvedAppGroupIdentifier() const { return appGroupIdentifier_; }

    UserDefaults* userDefaults();
    std::optional<std::filesystem::path> containerURL() const;

    // Writes nothing when the last accepted snapshot differs only in `updatedAt`.
    void saveSnapshot(const WidgetPlaybackSnapshot& snapshot, bool reloadWidgets);
    // The file, else the data setting, else the individual settings (only with a track), else
    // `WidgetPlaybackSnapshot::empty()`.
    WidgetPlaybackSnapshot loadSnapshot();
    void toggleShuffleState();

    void saveArtwork(std::string_view data);
    std::optional<std::filesystem::path> artworkFileURL() const;
    void clearArtwork();

    void reloadAllWidgets() {}
    // Told the favourites count after every change of the favourites. Writes nothing: the count
    // reaches a widget only inside a snapshot, and a normal run publishes none.
    void updateFavoritesCount(std::int64_t) {}

  private:
    UserDefaults* customDefaults_;
    std::optional<std::filesystem::path> customContainerURL_;
    bool useSharedLocations_;
    std::mutex lock_;
    std::optional<WidgetPlaybackSnapshot> lastSavedSnapshot_;
    std::string appGroupIdentifier_ = std::string(defaultAppGroupIdentifier);
    std::once_flag sharedDefaultsOnce_;
    std::unique_ptr<UserDefaults> sharedDefaults_;
};

}  // namespace velto
