#include "app/ArtistDetailViewModel.h"

#include <algorithm>

#include "app/AlbumValue.h"
#include "app/ArtistValue.h"
#include "app/ErrorText.h"
#include "app/TrackListUtilities.h"
#include "app/TrackValue.h"

namespace velto {

// The latest tab's walk over its newest albums, one request after the other.
struct ArtistDetailViewModel::LatestProgress {
    std::int64_t generation = 0;
    std::vector<AlbumSummary> newest;
    std::size_t next = 0;
    ListedTracks tracks;
    std::exception_ptr lastFailure;
};

ArtistDetailViewModel::ArtistDetailViewModel(ArtistSummary artist,
                                             std::shared_ptr<SourceRuntime> runtime,
                                             AppTaskRunner runner, QObject* parent)
    : QObject(parent),
      artist_(std::move(artist)),
      tabs_{{0, false, {}, &ArtistDetailViewModel::popularGenerationChanged,
             &ArtistDetailViewModel::popularIsLoadingChanged,
             &ArtistDetailViewModel::popularErrorChanged},
            {0, false, {}, &ArtistDetailViewModel::latestGenerationChanged,
             &ArtistDetailViewModel::latestIsLoadingChanged,
             &ArtistDetailViewModel::latestErrorChanged},
            {0, false, {}, &ArtistDetailViewModel::albumsGenerationChanged,
             &ArtistDetailViewModel::albumsIsLoadingChanged,
             &ArtistDetailViewModel::albumsErrorChanged}},
      runtime_(std::move(runtime)),
      runner_(std::move(runner)) {}

ArtistDetailViewModel::~ArtistDetailViewModel() {
    lifetime_.request_stop();
    for (auto& load : selectedLoads_) load.request_stop();
}

void ArtistDetailViewModel::setSelectedTab(ArtistDetailTab tab) {
    if (tab == selectedTab_) return;
    selectedTab_ = tab;
    // The page's load belongs to the tab it was started for.
    for (auto& load : selectedLoads_) load.request_stop();
    selectedLoads_.clear();
    emit selectedTabChanged();
}

void ArtistDetailViewModel::refreshArtistMetadataIfNeeded(std::stop_token stop,
                                                          std::function<void()> then) {
    if (artist_.imageURL) {
        if (then) then();
        return;
    }
    runner_.run(
        alive_, stop,
        [runtime = runtime_, artist = artist_](std::stop_token token) {
            return runtime->artistDetail(artist, token);
        },
        [this, then = std::move(then)](TaskResult<ArtistSummary>& result) {
            // A failed refresh is tried again on the next page load; nothing is shown.
            if (result.ok()) assign(artist_, result.value(), &ArtistDetailViewModel::artistChanged);
            if (then) then();
        });
}

void ArtistDetailViewModel::loadSelectedIfNeeded() {
    std::stop_source load;
    selectedLoads_.push_back(load);
    auto stop = load.get_token();
    refreshArtistMetadataIfNeeded(stop, [this, stop] {
        if (stop.stop_requested()) return;
        switch (selectedTab_) {
            case ArtistDetailTab::popular:
                if (popularTracks().empty() && !popularError()) loadPopular(stop);
                break;
            case ArtistDetailTab::latest:
                if (latestAlbums_.empty() && latestTracks().empty() && !latestError()) {
                    loadLatest(stop);
                }
                break;
            case ArtistDetailTab::albums:
                if (albums_.empty() && !albumsError()) loadAlbums(stop);
                break;
        }
    });
}

std::int64_t ArtistDetailViewModel::beginLoad(ArtistDetailTab which) {
    auto& state = tab(which);
    const auto g = ++state.generation;
    emit(this->*state.generationChanged)();
    setLoading(which, true);
    setError(which, std::nullopt);
    return g;
}

void ArtistDetailViewModel::failLoad(ArtistDetailTab which, const std::exception_ptr& error) {
    setLoading(which, false);
    if (!isCancellation(error)) setError(which, ErrorText::describe(error, "artist"));
}

void ArtistDetailViewModel::setLoading(ArtistDetailTab which, bool value) {
    auto& state = tab(which);
    assign(state.isLoading, value, state.isLoadingChanged);
}

void ArtistDetailViewModel::setError(ArtistDetailTab which, std::optional<std::string> error) {
    auto& state = tab(which);
    assign(state.error, std::move(error), state.errorChanged);
}

void ArtistDetailViewModel::loadPopular(std::stop_token stop) {
    const auto g = beginLoad(ArtistDetailTab::popular);
    runner_.run(
        alive_, stop,
        [runtime = runtime_, artist = artist_](std::stop_token token) {
            return ListedTracks(
                TrackListUtilities::deduplicated(runtime->artistPopularTracks(artist, token)));
        },
        [this, g](TaskResult<ListedTracks>& result) {
            if (!isCurrent(ArtistDetailTab::popular, g)) return;
            if (!result.ok()) return failLoad(ArtistDetailTab::popular, result.error());
            assign(popularTracks_, std::move(result.value()),
                   &ArtistDetailViewModel::popularTracksChanged);
            setLoading(ArtistDetailTab::popular, false);
        });
}

void ArtistDetailViewModel::loadAlbums(std::stop_token stop) {
    const auto g = beginLoad(ArtistDetailTab::albums);
    runner_.run(
        alive_, stop,
        [runtime = runtime_, artist = artist_](std::stop_token token) {
            return runtime->artistAlbums(artist, 1, token);
        },
        [this, g](TaskResult<AlbumPage>& result) {
            if (!isCurrent(ArtistDetailTab::albums, g)) return;
            if (!result.ok()) return failLoad(ArtistDetailTab::albums, result.error());
            auto sorted = TrackListUtilities::sortedNewestFirst(std::move(result.value().list));
            assign(albums_, TrackListUtilities::deduplicated(sorted),
                   &ArtistDetailViewModel::albumsChanged);
            setLoading(ArtistDetailTab::albums, false);
        });
}

void ArtistDetailViewModel::loadLatest(std::stop_token stop) {
    const auto g = beginLoad(ArtistDetailTab::latest);
    runner_.run(
        alive_, stop,
        [runtime = runtime_, artist = artist_](std::stop_token token) {
            return runtime->artistAlbums(artist, 1, token);
        },
        [this, g, stop](TaskResult<AlbumPage>& result) {
            if (!isCurrent(ArtistDetailTab::latest, g)) return;
            if (!result.ok()) return failLoad(ArtistDetailTab::latest, result.error());
            auto progress = std::make_shared<LatestProgress>();
            progress->generation = g;
            progress->newest = TrackListUtilities::sortedNewestFirst(std::move(result.value().list));
            if (progress->newest.size() > latestAlbumLimit) progress->newest.resize(latestAlbumLimit);
            fetchLatestTracks(std::move(progress), stop);
        });
}

void ArtistDetailViewModel::fetchLatestTracks(std::shared_ptr<LatestProgress> progress,
                                              std::stop_token stop) {
    if (progress->next >= std::min(latestTrackAlbumLimit, progress->newest.size())) {
        finishLatest(progress);
        return;
    }
    const auto album = progress->newest[progress->next++];
    runner_.run(
        alive_, stop,
        [runtime = runtime_, album](std::stop_token token) {
            return ListedTracks(
                TrackListUtilities::deduplicated(runtime->albumTracks(album, token).tracks));
        },
        [this, progress, stop](TaskResult<ListedTracks>& result) {
            if (result.ok()) {
                progress->tracks.append(result.value());
            } else if (isCancellation(result.error())) {
                // The songs gathered so far go with the cancelled load.
                if (isCurrent(ArtistDetailTab::latest, progress->generation)) {
                    setLoading(ArtistDetailTab::latest, false);
                }
                return;
            } else {
                progress->lastFailure = result.error();
            }
            if (!isCurrent(ArtistDetailTab::latest, progress->generation)) return;
            fetchLatestTracks(progress, stop);
        });
}

void ArtistDetailViewModel::finishLatest(const std::shared_ptr<LatestProgress>& progress) {
    if (progress->tracks.tracks.empty() && progress->lastFailure) {
        return failLoad(ArtistDetailTab::latest, progress->lastFailure);
    }
    assign(latestAlbums_, progress->newest, &ArtistDetailViewModel::latestAlbumsChanged);
    assign(latestTracks_, progress->tracks.deduplicated(),
           &ArtistDetailViewModel::latestTracksChanged);
    if (progress->lastFailure) {
        setError(ArtistDetailTab::latest, std::string(partialLatestMessage));
    }
    setLoading(ArtistDetailTab::latest, false);
}

QVariant ArtistDetailViewModel::artistValue() const {
    return QVariant::fromValue(ArtistValue(artist_));
}

QString ArtistDetailViewModel::selectedTabText() const {
    const auto raw = ArtistDetailTabs::rawValue(selectedTab_);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

void ArtistDetailViewModel::setSelectedTabText(const QString& raw) {
    if (auto tab = ArtistDetailTabs::fromRaw(raw.toStdString())) setSelectedTab(*tab);
}

QVariantList ArtistDetailViewModel::popularTrackValues() const {
    return TrackValue::toList(popularTracks_.tracks);
}
QVariantList ArtistDetailViewModel::latestAlbumValues() const {
    return AlbumValue::toList(latestAlbums_);
}
QVariantList ArtistDetailViewModel::latestTrackValues() const {
    return TrackValue::toList(latestTracks_.tracks);
}
QVariantList ArtistDetailViewModel::albumValues() const { return AlbumValue::toList(albums_); }

}  // namespace velto
