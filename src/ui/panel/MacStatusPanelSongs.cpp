#include <algorithm>
#include <map>
#include <unordered_set>

#include "app/MacAppModel.h"
#include "app/search/SearchViewModel.h"
#include "ui/panel/MacStatusPanel.h"

namespace velto {

namespace {
QString text(const std::string& value) { return QString::fromStdString(value); }
}  // namespace

std::optional<Track> MacStatusPanel::currentTrack() const { return playback_.queue().current(); }

std::vector<Track> MacStatusPanel::tracks() const {
    if (tab_ == MusicTab::favorites) return model_.libraryTracks();
    if (tab_ == MusicTab::search && search_->selectedScope() == SearchScope::songs)
        return search_->results();
    return {};
}

std::vector<Track> MacStatusPanel::displayedTracks() const {
    std::vector<Track> list = tracks();
    if (tab_ != MusicTab::favorites) return list;
    std::vector<const FavoriteRemovalFeedback*> entries;
    for (const auto& [key, entry] : removalFeedback_) entries.push_back(&entry);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto* a, const auto* b) { return a->index < b->index; });
    for (const FavoriteRemovalFeedback* entry : entries) {
        const std::string key = entry->track.musicID();
        if (std::any_of(list.begin(), list.end(),
                        [&](const Track& t) { return t.musicID() == key; }))
            continue;
        const auto at = std::min<std::size_t>(std::size_t(std::max(entry->index, 0)), list.size());
        list.insert(list.begin() + std::ptrdiff_t(at), entry->track);
    }
    return list;
}

void MacStatusPanel::refreshSongs() {
    if (holdingSongs_) return;
    const std::vector<Track> list = displayedTracks();
    const std::optional<Track> current = currentTrack();
    const std::string currentKey = current ? current->musicID() : std::string();
    const bool libraryOpen = model_.libraryOpen();
    // One pass over the favourites, not one per row.
    std::unordered_set<std::string> favorites;
    for (const Track& track : model_.libraryTracks()) favorites.insert(track.musicID());
    // Song results come in the list's order with their records read on the worker.
    const auto& scored = search_->scoredResults();
    const bool searched =
        tab_ == MusicTab::search && search_->selectedScope() == SearchScope::songs;
    std::vector<PanelSongListModel::Row> rows;
    rows.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Track& track = list[i];
        std::string key = track.musicID();
        const bool released = searched && i < scored.size() ? scored[i].playable : track.isPlayable();
        rows.push_back({track, removalFeedback_.count(key) > 0, favorites.count(key) > 0,
                        current && key == currentKey, libraryOpen, released});
    }
    songs_->setRows(std::move(rows));
}

void MacStatusPanel::play(const Track& track, int at) {
    if (tab_ == MusicTab::favorites) {
        // By key: rows of removed songs in between and later changes do not shift the song.
        const auto& favorites = model_.libraryTracks();
        const std::string key = track.musicID();
        for (std::size_t i = 0; i < favorites.size(); ++i)
            if (favorites[i].musicID() == key) return model_.playFavorites(std::ptrdiff_t(i), {});
        return;
    }
    model_.play(tracks(), at);
}

void MacStatusPanel::playRow(int row) {
    const auto& rows = songs_->rows();
    if (row < 0 || std::size_t(row) >= rows.size()) return;
    const auto& chosen = rows[std::size_t(row)];
    if (chosen.wasRemoved) return;
    play(chosen.track, row);
}

void MacStatusPanel::toggleFavorite(const Track& track) {
    const std::string key = track.musicID();
    if (removalFeedback_.count(key)) return;
    std::optional<int> index;
    if (tab_ == MusicTab::favorites && model_.isFavorite(track)) {
        const auto shown = displayedTracks();
        for (std::size_t i = 0; i < shown.size(); ++i)
            if (shown[i].musicID() == key) {
                index = int(i);
                break;
            }
    }
    // The rows wait for the feedback: a removed row must not leave and come back.
    holdingSongs_ = true;
    if (model_.isFavorite(track))
        model_.removeFavorite(track);
    else
        model_.collect(track);
    holdingSongs_ = false;
    if (!index || model_.isFavorite(track)) {
        // The layout too: the first row ends the empty list's state.
        refreshSongs();
        refreshLayout();
        return;
    }
    auto feedback = removalFeedback_;
    feedback[key] = {track, *index};
    setRemovalFeedback(std::move(feedback));
    scheduleRemovalEnd(key);
}

void MacStatusPanel::toggleFavoriteRow(int row) {
    const auto& rows = songs_->rows();
    if (row < 0 || std::size_t(row) >= rows.size()) return;
    const Track track = rows[std::size_t(row)].track;
    toggleFavorite(track);
}

void MacStatusPanel::toggleCurrentFavorite() {
    if (!model_.libraryOpen()) return;
    if (const auto current = currentTrack()) toggleFavorite(*current);
}

// The entry ends 0.8 s after the removal, whether or not its row is on screen.
void MacStatusPanel::scheduleRemovalEnd(const std::string& key) {
    if (auto old = removalTimers_.find(key); old != removalTimers_.end())
        mainQueue_.cancel(old->second);
    std::weak_ptr<int> alive = alive_;
    removalTimers_[key] = mainQueue_.schedule(removalDelay, [this, alive, key] {
        if (alive.expired()) return;
        removalTimers_.erase(key);
        finishRemovalFeedback(key);
    });
}

void MacStatusPanel::cancelRemovalTimers() {
    for (const auto& [key, id] : removalTimers_) mainQueue_.cancel(id);
    removalTimers_.clear();
}

void MacStatusPanel::finishRemovalFeedback(const QString& key) {
    finishRemovalFeedback(key.toStdString());
}

void MacStatusPanel::finishRemovalFeedback(const std::string& key) {
    auto found = removalFeedback_.find(key);
    if (found == removalFeedback_.end()) return;
    auto feedback = removalFeedback_;
    const int removedAt = found->second.index;
    feedback.erase(key);
    for (auto& [other, entry] : feedback)
        if (entry.index > removedAt) --entry.index;
    setRemovalFeedback(std::move(feedback));
}

void MacStatusPanel::setRemovalFeedback(std::map<std::string, FavoriteRemovalFeedback> feedback) {
    if (feedback.empty() && removalFeedback_.empty()) return;
    if (feedback.empty()) cancelRemovalTimers();
    removalFeedback_ = std::move(feedback);
    emit removalFeedbackChanged();
    refreshSongs();
    refreshStrip();
    refreshLayout();
}

void MacStatusPanel::refreshStrip() {
    const std::optional<Track> current = currentTrack();
    QVariantMap next;
    if (!current) {
        next = {{"hasCurrent", false},
                {"title", QStringLiteral("从一首好歌开始")},
                {"artist", QStringLiteral("搜索歌曲，或打开你的歌单")},
                {"track", QVariant()}};
    } else {
        const bool favorite = model_.isFavorite(*current);
        next = {{"hasCurrent", true},
                {"title", text(current->title)},
                {"artist", text(current->artist)},
                {"track", QVariant::fromValue(*current)},
                {"heartSymbol", favorite ? QStringLiteral("heart.fill") : QStringLiteral("heart")},
                {"heartHelp", favorite ? QStringLiteral("取消收藏当前歌曲") : QStringLiteral("收藏当前歌曲")},
                {"heartEnabled",
                 model_.libraryOpen() && !removalFeedback_.count(current->musicID())}};
    }
    if (next == stripValue_) return;
    stripValue_ = std::move(next);
    emit stripChanged();
}

// --- Results -----------------------------------------------------------------------------------

std::size_t MacStatusPanel::resultCount() const {
    if (tab_ == MusicTab::favorites) return model_.libraryTracks().size();
    if (tab_ != MusicTab::search) return 0;
    switch (search_->selectedScope()) {
    case SearchScope::songs:
        return search_->results().size();
    case SearchScope::artists:
        return search_->artistResults().size();
    case SearchScope::albums:
        return search_->albumResults().size();
    case SearchScope::playlists:
        return search_->playlistResults().size();
    }
    return 0;
}

std::string MacStatusPanel::resultSummary() const {
    if (tab_ == MusicTab::favorites) return std::to_string(resultCount()) + " 首歌曲";
    if (tab_ != MusicTab::search) return {};
    static const std::map<SearchScope, const char*> units = {{SearchScope::songs, " 首歌曲"},
                                                             {SearchScope::artists, " 位歌手"},
                                                             {SearchScope::albums, " 张专辑"},
                                                             {SearchScope::playlists, " 个歌单"}};
    return std::to_string(resultCount()) + units.at(search_->selectedScope());
}

std::string MacStatusPanel::artistMeta(const ArtistSummary& artist) {
    std::string meta(displayName(artist.source));
    if (artist.songCount && *artist.songCount > 0)
        meta += " · " + std::to_string(*artist.songCount) + " 首";
    if (artist.albumCount && *artist.albumCount > 0)
        meta += " · " + std::to_string(*artist.albumCount) + " 张专辑";
    return meta;
}

QString MacStatusPanel::artistMetaAt(int row) const {
    const auto artists = search_->visibleArtistResults();
    if (row < 0 || std::size_t(row) >= artists.size()) return {};
    return text(artistMeta(artists[std::size_t(row)]));
}

QString MacStatusPanel::playlistSubtitleAt(int row) const {
    const auto& playlists = search_->playlistResults();
    if (row < 0 || std::size_t(row) >= playlists.size()) return {};
    const PlaylistSummary& playlist = playlists[std::size_t(row)];
    return text(playlist.author.empty() ? std::string(displayName(playlist.source)) : playlist.author);
}

std::vector<MusicSource> MacStatusPanel::artistExpansionWarningSources() const {
    std::vector<MusicSource> sources(search_->artistExpansionFailedSources().begin(),
                                     search_->artistExpansionFailedSources().end());
    std::sort(sources.begin(), sources.end(), [](MusicSource a, MusicSource b) {
        return velto::rawValue(a) < velto::rawValue(b);
    });
    return sources;
}

QVariantList MacStatusPanel::artistExpansionWarningRows() const {
    QVariantList rows;
    for (MusicSource source : artistExpansionWarningSources())
        rows.push_back(QVariantMap{
            {"source", text(std::string(velto::rawValue(source)))},
            {"message", text(std::string(displayName(source)) + " 更多歌手载入失败")}});
    return rows;
}

}  // namespace velto
