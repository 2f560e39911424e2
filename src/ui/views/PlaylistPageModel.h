#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>

#include "ui/views/MacCatalogPageModel.h"

namespace velto {

// The playlist page keeps its own state: it asks the runtime for the playlist page by page,
// one request at a time, appends each page's new songs (every key once) and prefers the
// details sent with the pages over the summary it was opened with.
class PlaylistPageModel : public MacCatalogPageModel {
    Q_OBJECT
    Q_PROPERTY(bool hasMore READ hasMore NOTIFY hasMoreChanged)
    Q_PROPERTY(QString loadMoreTitle READ loadMoreTitle NOTIFY isLoadingChanged)
    Q_PROPERTY(QString emptyText READ emptyText CONSTANT)

  public:
    using CatalogSupport = std::function<bool(MusicSource)>;

    explicit PlaylistPageModel(QObject* parent = nullptr);
    ~PlaylistPageModel() override;

    // Whether a page after `detail` exists: the source pages its playlists, the page was not
    // empty and page × limit stays below the total. A product beyond 64 bits means no page.
    static bool hasFurtherPage(const PlaylistDetail& detail, bool supportsCatalog);
    // "<author> · <n> 首" (no author part when it is empty); n is the total when above 0,
    // else the songs loaded.
    using MacCatalogPageModel::subtitle;
    static std::string subtitle(const std::string& author, std::int64_t total, std::size_t loaded);

    // Which sources page their playlists; every source's own rule unless a test says otherwise.
    void setCatalogSupport(CatalogSupport support) { catalogSupport_ = std::move(support); }

    const std::vector<Track>& loadedTracks() const { return trackList()->tracks(); }
    std::int64_t loadedPage() const { return loadedPage_; }
    bool hasMore() const { return hasMore_; }
    std::int64_t total() const { return total_; }
    const std::optional<PlaylistDetailInfo>& info() const { return info_; }
    QString loadMoreTitle() const {
        return isLoading() ? QStringLiteral("正在载入…") : QStringLiteral("载入更多");
    }
    static QString emptyText() { return QStringLiteral("歌单里还没有可播放的歌曲"); }

    // Loads the page after the last one stored; does nothing while a request runs.
    Q_INVOKABLE void loadNextPage();
    // Every showing asks for the next page; leaving cancels the request silently.
    void appear() override { loadNextPage(); }
    void disappear() override;
    void retry() override { loadNextPage(); }

  signals:
    void hasMoreChanged();

  protected:
    bool build(const MacCatalogDestination& destination) override;
    void refresh() override;

  private:
    // `released` is ListedTracks::releasedOf the page's songs, read on the worker.
    void merge(const PlaylistDetail& detail, const std::vector<bool>& released,
               std::int64_t askedPage);

    PlaylistSummary playlist_;
    CatalogSupport catalogSupport_;
    std::optional<std::string> error_;
    bool loading_ = false;
    std::int64_t loadedPage_ = 0;
    bool hasMore_ = false;
    std::optional<PlaylistDetailInfo> info_;
    std::int64_t total_ = 0;
    std::unordered_set<std::string> keys_;
    std::stop_source request_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velto
