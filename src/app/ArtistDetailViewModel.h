#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "app/AppTaskRunner.h"
#include "app/ArtistDetailTab.h"
#include "app/ListedTracks.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

// The page of one artist: its record and three tabs (popular songs, the latest albums with the
// songs of the newest three, all albums). Each tab loads on its own with its own generation, so
// a late answer never overwrites a newer one and the tabs never disturb one another.
class ArtistDetailViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant artist READ artistValue NOTIFY artistChanged)
    Q_PROPERTY(QString selectedTab READ selectedTabText WRITE setSelectedTabText NOTIFY selectedTabChanged)
    Q_PROPERTY(QVariantList popularTracks READ popularTrackValues NOTIFY popularTracksChanged)
    Q_PROPERTY(QVariantList latestAlbums READ latestAlbumValues NOTIFY latestAlbumsChanged)
    Q_PROPERTY(QVariantList latestTracks READ latestTrackValues NOTIFY latestTracksChanged)
    Q_PROPERTY(QVariantList albums READ albumValues NOTIFY albumsChanged)
    Q_PROPERTY(bool popularIsLoading READ popularIsLoading NOTIFY popularIsLoadingChanged)
    Q_PROPERTY(bool latestIsLoading READ latestIsLoading NOTIFY latestIsLoadingChanged)
    Q_PROPERTY(bool albumsIsLoading READ albumsIsLoading NOTIFY albumsIsLoadingChanged)
    Q_PROPERTY(QString popularError READ popularErrorText NOTIFY popularErrorChanged)
    Q_PROPERTY(QString latestError READ latestErrorText NOTIFY latestErrorChanged)
    Q_PROPERTY(QString albumsError READ albumsErrorText NOTIFY albumsErrorChanged)

  public:
    static constexpr std::size_t latestAlbumLimit = 6;
    static constexpr std::size_t latestTrackAlbumLimit = 3;
    static constexpr const char* partialLatestMessage = "部分最新专辑曲目暂不可用，请重试";

    ArtistDetailViewModel(ArtistSummary artist, std::shared_ptr<SourceRuntime> runtime,
                          AppTaskRunner runner, QObject* parent = nullptr);
    // Cancels every load still running.
    ~ArtistDetailViewModel() override;

    // The page's entry: refreshes the artist's record while it has no picture, then loads the
    // selected tab if it shows nothing yet. Changing the tab cancels it.
    Q_INVOKABLE void loadSelectedIfNeeded();
    Q_INVOKABLE void refreshArtistMetadataIfNeeded() {
        refreshArtistMetadataIfNeeded(lifetime_.get_token(), {});
    }
    // The tabs' own loads (the page's reload); each fetches whatever the state.
    Q_INVOKABLE void loadPopular() { loadPopular(lifetime_.get_token()); }
    Q_INVOKABLE void loadLatest() { loadLatest(lifetime_.get_token()); }
    Q_INVOKABLE void loadAlbums() { loadAlbums(lifetime_.get_token()); }

    // The same within a caller's task: stopping `stop` cancels the requests.
    void refreshArtistMetadataIfNeeded(std::stop_token stop, std::function<void()> then);
    void loadPopular(std::stop_token stop);
    void loadLatest(std::stop_token stop);
    void loadAlbums(std::stop_token stop);

    const ArtistSummary& artist() const { return artist_; }
    ArtistDetailTab selectedTab() const { return selectedTab_; }
    void setSelectedTab(ArtistDetailTab tab);
    const std::vector<Track>& popularTracks() const { return popularTracks_.tracks; }
    const std::vector<AlbumSummary>& latestAlbums() const { return latestAlbums_; }
    const std::vector<Track>& latestTracks() const { return latestTracks_.tracks; }
    // The same songs with whether each may play, read on the workers that loaded them.
    const ListedTracks& listedPopularTracks() const { return popularTracks_; }
    const ListedTracks& listedLatestTracks() const { return latestTracks_; }
    const std::vector<AlbumSummary>& albums() const { return albums_; }
    bool popularIsLoading() const { return tabs_[0].isLoading; }
    bool latestIsLoading() const { return tabs_[1].isLoading; }
    bool albumsIsLoading() const { return tabs_[2].isLoading; }
    const std::optional<std::string>& popularError() const { return tabs_[0].error; }
    const std::optional<std::string>& latestError() const { return tabs_[1].error; }
    const std::optional<std::string>& albumsError() const { return tabs_[2].error; }
    std::int64_t popularGeneration() const { return tabs_[0].generation; }
    std::int64_t latestGeneration() const { return tabs_[1].generation; }
    std::int64_t albumsGeneration() const { return tabs_[2].generation; }

    QVariant artistValue() const;
    QString selectedTabText() const;
    // Texts other than the three tab names are ignored.
    void setSelectedTabText(const QString& raw);
    QVariantList popularTrackValues() const;
    QVariantList latestAlbumValues() const;
    QVariantList latestTrackValues() const;
    QVariantList albumValues() const;
    QString popularErrorText() const { return errorText(tabs_[0].error); }
    QString latestErrorText() const { return errorText(tabs_[1].error); }
    QString albumsErrorText() const { return errorText(tabs_[2].error); }

  signals:
    void artistChanged();
    void selectedTabChanged();
    void popularTracksChanged();
    void latestAlbumsChanged();
    void latestTracksChanged();
    void albumsChanged();
    void popularIsLoadingChanged();
    void latestIsLoadingChanged();
    void albumsIsLoadingChanged();
    void popularErrorChanged();
    void latestErrorChanged();
    void albumsErrorChanged();
    void popularGenerationChanged();
    void latestGenerationChanged();
    void albumsGenerationChanged();

  private:
    using Signal = void (ArtistDetailViewModel::*)();
    struct Tab {
        std::int64_t generation = 0;
        bool isLoading = false;
        std::optional<std::string> error;
        Signal generationChanged;
        Signal isLoadingChanged;
        Signal errorChanged;
    };
    struct LatestProgress;

    Tab& tab(ArtistDetailTab which) { return tabs_[std::size_t(which)]; }
    std::int64_t beginLoad(ArtistDetailTab which);
    bool isCurrent(ArtistDetailTab which, std::int64_t g) { return tab(which).generation == g; }
    // Ends a current load that failed: cancellations only clear the flag.
    void failLoad(ArtistDetailTab which, const std::exception_ptr& error);
    void setLoading(ArtistDetailTab which, bool value);
    void setError(ArtistDetailTab which, std::optional<std::string> error);
    void fetchLatestTracks(std::shared_ptr<LatestProgress> progress, std::stop_token stop);
    void finishLatest(const std::shared_ptr<LatestProgress>& progress);

    template <class T>
    void assign(T& field, T value, Signal changed) {
        if (field == value) return;
        field = std::move(value);
        emit(this->*changed)();
    }
    static QString errorText(const std::optional<std::string>& error) {
        return error ? QString::fromStdString(*error) : QString();
    }

    ArtistSummary artist_;
    ArtistDetailTab selectedTab_ = ArtistDetailTab::popular;
    ListedTracks popularTracks_;
    std::vector<AlbumSummary> latestAlbums_;
    ListedTracks latestTracks_;
    std::vector<AlbumSummary> albums_;
    Tab tabs_[3];
    std::shared_ptr<SourceRuntime> runtime_;
    AppTaskRunner runner_;
    std::stop_source lifetime_;
    // The loads loadSelectedIfNeeded started for the tab now selected.
    std::vector<std::stop_source> selectedLoads_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velto
