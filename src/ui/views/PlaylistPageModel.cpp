#include "ui/views/PlaylistPageModel.h"

#include <climits>

#include "app/ErrorText.h"
#include "foundation/Cancellation.h"

namespace velto {

PlaylistPageModel::PlaylistPageModel(QObject* parent)
    : MacCatalogPageModel(parent), catalogSupport_([](MusicSource s) { return supportsCatalog(s); }) {}

PlaylistPageModel::~PlaylistPageModel() { request_.request_stop(); }

bool PlaylistPageModel::hasFurtherPage(const PlaylistDetail& detail, bool supportsCatalog) {
    if (!supportsCatalog || detail.list.empty()) return false;
    std::int64_t product = 0;
    // The numbers are the server's: a product that does not fit is no page anyone can ask for.
    if (__builtin_mul_overflow(detail.page, detail.limit, &product)) return false;
    return product < detail.total;
}

std::string PlaylistPageModel::subtitle(const std::string& author, std::int64_t total,
                                        std::size_t loaded) {
    std::string count = (total > 0 ? std::to_string(total) : std::to_string(loaded)) + " 首";
    return author.empty() ? count : author + " · " + count;
}

bool PlaylistPageModel::build(const MacCatalogDestination& destination) {
    const PlaylistSummary* playlist = destination.playlistSummary();
    if (!playlist) return false;
    playlist_ = *playlist;
    return true;
}

void PlaylistPageModel::loadNextPage() {
    if (!built() || loading_) return;
    // The page after the last one must still be a page number a request can carry.
    if (loadedPage_ >= INT_MAX) return;
    const std::int64_t asked = loadedPage_ + 1;
    loading_ = true;
    error_.reset();
    request_ = std::stop_source();
    refresh();
    services()->runner().run(
        alive_, request_.get_token(),
        [runtime = services()->runtime(), playlist = playlist_, asked](std::stop_token stop) {
            auto detail = runtime->playlistDetail(playlist.source, playlist.id, int(asked), stop);
            auto released = ListedTracks::releasedOf(detail.list);
            return std::pair(std::move(detail), std::move(released));
        },
        [this, asked](TaskResult<std::pair<PlaylistDetail, std::vector<bool>>>& result) {
            if (result.ok())
                merge(result.value().first, result.value().second, asked);
            else if (!isCancellation(result.error()))
                error_ = ErrorText::describe(result.error(), "playlist");
            loading_ = false;
            refresh();
        });
}

void PlaylistPageModel::disappear() { request_.request_stop(); }

void PlaylistPageModel::merge(const PlaylistDetail& detail, const std::vector<bool>& released,
                              std::int64_t askedPage) {
    ListedTracks fresh;
    for (std::size_t i = 0; i < detail.list.size(); ++i) {
        if (!keys_.insert(detail.list[i].musicID()).second) continue;
        fresh.tracks.push_back(detail.list[i]);
        fresh.released.push_back(released[i]);
    }
    // A page that adds nothing leaves the list alone.
    if (!fresh.tracks.empty()) {
        ListedTracks all = trackList()->listedTracks();
        all.append(fresh);
        setTracks(std::move(all));
    }
    loadedPage_ = detail.page >= 1 ? detail.page : askedPage;
    const bool more = hasFurtherPage(detail, catalogSupport_(detail.source)) && loadedPage_ < INT_MAX;
    if (more != hasMore_) {
        hasMore_ = more;
        emit hasMoreChanged();
    }
    total_ = detail.total;
    info_ = detail.info;
}

void PlaylistPageModel::refresh() {
    const std::string& author = info_ ? info_->author : playlist_.author;
    const std::string& name = info_ ? info_->name : playlist_.name;
    const std::optional<std::string>& img = info_ && info_->img ? info_->img : playlist_.img;
    setHeader(name, img, subtitle(author, total_, loadedTracks().size()));
    setError(error_);
    setLoading(loading_);
    const bool any = !loadedTracks().empty();
    setContent(loading_ && !any ? QStringLiteral("loading")
               : any            ? QStringLiteral("tracks")
                                : QStringLiteral("empty"));
}

}  // namespace velto
