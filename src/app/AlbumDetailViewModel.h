#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "app/AppTaskRunner.h"
#include "app/ListedTracks.h"
#include "sources/model/SourceRecords.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

// The page of one album: its record as the source last described it and its songs. Loads run
// on workers; an answer that arrives after a newer load started is dropped by the generation.
class AlbumDetailViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant album READ albumValue NOTIFY albumChanged)
    Q_PROPERTY(QVariantList tracks READ trackValues NOTIFY tracksChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)

  public:
    AlbumDetailViewModel(AlbumSummary album, std::shared_ptr<SourceRuntime> runtime,
                         AppTaskRunner runner, QObject* parent = nullptr);
    // Cancels the loads still running.
    ~AlbumDetailViewModel() override;

    // Fetches again whatever the state; only the newest load publishes.
    Q_INVOKABLE void load() { load(lifetime_.get_token()); }
    // The same within a caller's task: stopping `stop` cancels the request.
    void load(std::stop_token stop);

    const AlbumSummary& requestedAlbum() const { return requestedAlbum_; }
    const AlbumSummary& album() const { return album_; }
    const std::vector<Track>& tracks() const { return tracks_.tracks; }
    // The same songs with whether each may play, read on the worker that loaded them.
    const ListedTracks& listedTracks() const { return tracks_; }
    bool isLoading() const { return isLoading_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    std::int64_t generation() const { return generation_; }

    QVariant albumValue() const;
    QVariantList trackValues() const;
    QString errorMessageText() const;

  signals:
    void albumChanged();
    void tracksChanged();
    void isLoadingChanged();
    void errorMessageChanged();
    void generationChanged();

  private:
    void setAlbum(AlbumSummary album);
    void setTracks(ListedTracks tracks);
    void setIsLoading(bool value);
    void setErrorMessage(std::optional<std::string> message);

    const AlbumSummary requestedAlbum_;
    AlbumSummary album_;
    ListedTracks tracks_;
    bool isLoading_ = false;
    std::optional<std::string> errorMessage_;
    std::shared_ptr<SourceRuntime> runtime_;
    AppTaskRunner runner_;
    std::int64_t generation_ = 0;
    std::stop_source lifetime_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace velto
