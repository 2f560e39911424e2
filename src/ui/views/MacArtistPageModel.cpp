#include "ui/views/MacArtistPageModel.h"

#include <QVariantMap>
#include <algorithm>

namespace velto {

std::string MacArtistPageModel::subtitle(const ArtistSummary& artist) {
    std::string text = "歌手 · " + std::string(displayName(artist.source));
    if (artist.songCount && *artist.songCount > 0)
        text += " · " + std::to_string(*artist.songCount) + " 首";
    return text;
}

QStringList MacArtistPageModel::tabTitles() {
    QStringList titles;
    for (auto tab : ArtistDetailTabs::allCases)
        titles << QString::fromUtf8(ArtistDetailTabs::rawValue(tab).data(),
                                    qsizetype(ArtistDetailTabs::rawValue(tab).size()));
    return titles;
}

int MacArtistPageModel::selectedTab() const { return detail_ ? int(detail_->selectedTab()) : 0; }

void MacArtistPageModel::selectTab(int index) {
    if (!detail_ || index < 0 || index >= int(ArtistDetailTabs::allCases.size())) return;
    detail_->setSelectedTab(ArtistDetailTabs::allCases[std::size_t(index)]);
}

bool MacArtistPageModel::build(const MacCatalogDestination& destination) {
    const ArtistSummary* artist = destination.artistSummary();
    if (!artist) return false;
    detail_ = new ArtistDetailViewModel(*artist, services()->runtime(), services()->runner(), this);
    const auto update = [this] { refresh(); };
    for (auto signal : {&ArtistDetailViewModel::artistChanged,
                        &ArtistDetailViewModel::popularTracksChanged,
                        &ArtistDetailViewModel::latestTracksChanged,
                        &ArtistDetailViewModel::albumsChanged,
                        &ArtistDetailViewModel::popularIsLoadingChanged,
                        &ArtistDetailViewModel::latestIsLoadingChanged,
                        &ArtistDetailViewModel::albumsIsLoadingChanged,
                        &ArtistDetailViewModel::popularErrorChanged,
                        &ArtistDetailViewModel::latestErrorChanged,
                        &ArtistDetailViewModel::albumsErrorChanged})
        connect(detail_, signal, this, update);
    // The load is keyed by the tab: whoever changes it, the new tab loads if it needs to.
    connect(detail_, &ArtistDetailViewModel::selectedTabChanged, this, [this] {
        refresh();
        emit selectedTabChanged();
        if (shown_) detail_->loadSelectedIfNeeded();
    });
    // Back from a place it opened: on the tab it was left on.
    if (const auto& left = destination.left()) {
        left_ = left;
        selectTab(left->tab);
    }
    return true;
}

void MacArtistPageModel::appear() {
    if (!detail_ || shown_) return;
    shown_ = true;
    detail_->loadSelectedIfNeeded();
    // The play button offers the popular songs on every tab, the page shown again on another too.
    if (detail_->selectedTab() != ArtistDetailTab::popular && detail_->popularTracks().empty() &&
        !detail_->popularError())
        detail_->loadPopular();
}

void MacArtistPageModel::disappear() { shown_ = false; }

void MacArtistPageModel::retry() {
    if (!detail_) return;
    switch (detail_->selectedTab()) {
        case ArtistDetailTab::popular: return detail_->loadPopular();
        case ArtistDetailTab::latest: return detail_->loadLatest();
        case ArtistDetailTab::albums: return detail_->loadAlbums();
    }
}

void MacArtistPageModel::openAlbum(int index, double scroll) {
    if (!detail_ || index < 0 || std::size_t(index) >= detail_->albums().size()) return;
    const auto here = destination().value<MacCatalogDestination>().leftAs({selectedTab(), scroll, index});
    emit push(QVariant::fromValue(MacCatalogDestination::album(detail_->albums()[std::size_t(index)])),
              QVariant::fromValue(here));
}

void MacArtistPageModel::forgetLeft() {
    if (!left_) return;
    left_.reset();
    emit leftChanged();
}

QVariantMap MacArtistPageModel::showAsLeft(int count, double origin, double contentHeight, double viewHeight,
                                           double topMargin, double bottomMargin, const QString& focusedName) {
    if (!left_ || count <= left_->entry) return {};
    const double first = origin - topMargin;
    const double last = std::max(first, origin + contentHeight + bottomMargin - viewHeight);
    QVariantMap shown{{QStringLiteral("contentY"), std::clamp(left_->scroll, first, last)},
                      {QStringLiteral("card"), left_->entry},
                      {QStringLiteral("ring"), focusedName == QLatin1String("catalogBack")}};
    forgetLeft();
    return shown;
}

QString MacArtistPageModel::emptyTitle() const {
    return selectedTab() == int(ArtistDetailTab::albums) ? QStringLiteral("暂无专辑")
                                                         : QStringLiteral("暂无歌曲");
}

QString MacArtistPageModel::emptyDetail() const {
    return selectedTab() == int(ArtistDetailTab::albums) ? QStringLiteral("此音源尚未返回歌手专辑。")
                                                         : QStringLiteral("换一个歌手或稍后重试。");
}

void MacArtistPageModel::refresh() {
    if (!detail_) return;
    const ArtistDetailViewModel& d = *detail_;
    const ArtistSummary& artist = d.artist();
    setHeader(artist.name, artist.imageURL, subtitle(artist));
    const ArtistDetailTab tab = d.selectedTab();
    // The albums tab shows albums, but its play button still offers the popular songs.
    setTracks(tab == ArtistDetailTab::latest ? d.listedLatestTracks() : d.listedPopularTracks());
    const bool loading = tab == ArtistDetailTab::popular  ? d.popularIsLoading()
                         : tab == ArtistDetailTab::latest ? d.latestIsLoading()
                                                          : d.albumsIsLoading();
    setLoading(loading);
    setError(tab == ArtistDetailTab::popular  ? d.popularError()
             : tab == ArtistDetailTab::latest ? d.latestError()
                                              : d.albumsError());

    QVariantList cards;
    for (const auto& album : d.albums())
        cards << QVariantMap{{"name", QString::fromStdString(album.name)},
                             {"dateText", QString::fromStdString(album.releaseDate.value_or("专辑"))},
                             {"imageURL", QString::fromStdString(album.imageURL.value_or(""))}};
    if (cards != albums_) {
        albums_ = cards;
        emit albumsChanged();
    }

    if (loading)
        setContent(QStringLiteral("loading"));
    else if (tab == ArtistDetailTab::albums)
        setContent(d.albums().empty() ? QStringLiteral("empty") : QStringLiteral("albums"));
    else
        setContent(trackList()->count() > 0 ? QStringLiteral("tracks") : QStringLiteral("empty"));
}

}  // namespace velto
