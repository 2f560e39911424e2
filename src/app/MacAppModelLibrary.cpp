#include "app/MacAppModel.h"

#include "app/TrackValue.h"
#include "app/search/WidgetShareStore.h"
#include "foundation/Log.h"
#include "library/store/LibraryStore.h"
#include "library/store/VeltoModelContainer.h"
#include "playback/PlaybackService.h"

namespace velto {

namespace {
constexpr const char* readFailedMessage = "无法读取资料库，请重试。原有资料仍然保留。";
constexpr const char* collectFailedMessage = "收藏未保存，请重试。";
constexpr const char* removeFailedMessage = "未能从歌单移除，请重试。";
}  // namespace

std::filesystem::path MacAppModel::storePath() const {
    return environment_.applicationSupportDir / storeFileName;
}

void MacAppModel::retryLibrary() {
    if (container_) return;
    std::shared_ptr<VeltoModelContainer> container;
    try {
        std::filesystem::create_directories(environment_.applicationSupportDir);
        container = VeltoModelContainer::make(false, storePath());
    } catch (const std::exception& error) {
        Log::error("app", std::string("library failed to open: ") + error.what());
        setLibraryFailed(true);
        return;
    }
    container_ = std::move(container);
    library_ = std::make_shared<LibraryStore>(container_, recentPlaysLimit, environment_.defaults);
    emit libraryChanged();
    setLibraryFailed(false);
    reloadLibrary();
}

void MacAppModel::reloadLibrary() {
    if (!library_) return;
    Playlist personal;
    try {
        personal = library_->ensurePersonalPlaylist();
    } catch (const std::exception& error) {
        Log::error("app", std::string("personal playlist unreadable: ") + error.what());
        setErrorMessage(readFailedMessage);
        return;
    }
    std::vector<Track> tracks;
    const auto items = personal.orderedItems();
    // Every change of the favourites passes here.
    WidgetShareStore::shared().updateFavoritesCount(std::int64_t(items.size()));
    tracks.reserve(items.size());
    for (const auto& item : items) {
        if (auto track = item.track.track()) tracks.push_back(std::move(*track));
    }
    assign(libraryTracks_, std::move(tracks), &MacAppModel::libraryTracksChanged);
    try {
        assign(recentTracks_, library_->recentTracks(), &MacAppModel::recentTracksChanged);
    } catch (const std::exception& error) {
        Log::error("app", std::string("recent plays unreadable: ") + error.what());
        setErrorMessage(readFailedMessage);
    }
}

void MacAppModel::setLibraryFailed(bool failed) {
    assign(libraryFailed_, failed, &MacAppModel::libraryFailedChanged);
}

void MacAppModel::playFavorites(std::ptrdiff_t index, std::function<void()> done) {
    if (!library_) return;
    if (index < 0 || index >= std::ptrdiff_t(libraryTracks_.size())) return;
    Playlist personal;
    try {
        personal = library_->ensurePersonalPlaylist();
    } catch (const std::exception& error) {
        Log::error("app", std::string("personal playlist unreadable: ") + error.what());
        setErrorMessage("无法打开个人歌单，请重试。");
        return;
    }
    // A copy: the queue must not follow later reloads of the list.
    const auto tracks = libraryTracks_;
    startQueue(tracks, index, personal.id, std::move(done));
}

bool MacAppModel::isFavorite(const Track& track) const {
    const auto key = track.musicID();
    for (const auto& favorite : libraryTracks_) {
        if (favorite.musicID() == key) return true;
    }
    return false;
}

void MacAppModel::collect(const Track& track) {
    if (!library_) return;
    PersonalPlaylistCollectionResult result;
    try {
        result = library_->collect(track);
    } catch (const std::exception& error) {
        Log::error("app", std::string("collect failed: ") + error.what());
        setErrorMessage(collectFailedMessage);
        return;
    }
    playback_->onTrackAddedToPlaylist(track, result.playlist.id);
    reloadLibrary();
    setNotice(result.inserted ? "已加入个人歌单" : "这首歌已在个人歌单中");
}

void MacAppModel::removeFavorite(const Track& track) {
    if (!library_) return;
    try {
        const auto personal = library_->ensurePersonalPlaylist();
        const auto items = personal.orderedItems();
        const auto key = track.musicID();
        std::optional<int> position;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].track.musicId == key) {
                position = int(i);
                break;
            }
        }
        if (!position) return;
        library_->removeItem(*position, personal);
        playback_->onTrackRemovedFromPlaylist(track, personal.id);
    } catch (const std::exception& error) {
        Log::error("app", std::string("remove failed: ") + error.what());
        setErrorMessage(removeFailedMessage);
        return;
    }
    reloadLibrary();
    setNotice("已将「" + track.title + "」移出歌单");
}

bool MacAppModel::isFavorite(const QVariant& track) const {
    auto song = TrackValue::fromVariant(track);
    return song && isFavorite(*song);
}

void MacAppModel::collect(const QVariant& track) {
    if (auto song = TrackValue::fromVariant(track)) collect(*song);
}

void MacAppModel::removeFavorite(const QVariant& track) {
    if (auto song = TrackValue::fromVariant(track)) removeFavorite(*song);
}

void MacAppModel::recordRecentPlay(const Track& song, const std::string& key) {
    if (recordedTrackID_ == key || !library_) return;
    try {
        library_->recordRecent(song);
    } catch (const std::exception& error) {
        // Not marked as recorded: the next change of state while it plays tries again.
        Log::error("app", std::string("recent play not saved: ") + error.what());
        setErrorMessage("最近播放未能保存，播放仍可继续。");
        return;
    }
    recordedTrackID_ = key;
    reloadLibrary();
}

}  // namespace velto
