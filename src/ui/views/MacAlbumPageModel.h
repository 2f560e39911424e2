#pragma once

#include <stop_token>

#include "app/AlbumDetailViewModel.h"
#include "ui/views/MacCatalogPageModel.h"

namespace velto {

// The album page: header, error row and the album's songs. The first showing loads the album
// once; that load is cancelled when the page goes.
class MacAlbumPageModel : public MacCatalogPageModel {
    Q_OBJECT
    Q_PROPERTY(QString emptyText READ emptyText CONSTANT)

  public:
    using MacCatalogPageModel::MacCatalogPageModel;
    ~MacAlbumPageModel() override;

    // "<artist>", then " · <date>" unless absent or empty, then " · <n> 首" (0 included; a
    // negative count, which the sources never send, is left out).
    using MacCatalogPageModel::subtitle;
    static std::string subtitle(const AlbumSummary& album);

    AlbumDetailViewModel* detail() const { return detail_; }
    static QString emptyText() { return QStringLiteral("暂无曲目"); }

    void appear() override;
    void retry() override;

  protected:
    bool build(const MacCatalogDestination& destination) override;
    void refresh() override;

  private:
    AlbumDetailViewModel* detail_ = nullptr;
    bool loaded_ = false;
    std::stop_source firstLoad_;
};

}  // namespace velto
