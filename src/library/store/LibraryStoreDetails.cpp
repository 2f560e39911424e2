#include "library/store/LibraryRows.h"
#include "library/store/LibraryStore.h"
#include "library/details/TrackDetailRefreshError.h"
#include "sources/model/TrackQualityOption.h"

namespace velto {

DetailRefreshDecision LibraryStore::detailRefreshDecision(const Track& track, Date now,
                                                          const TrackDetailCachePolicy& policy,
                                                          bool force) {
    if (force) return DetailRefreshDecision::refresh();
    // A payload that already offers more than the standard quality is detailed enough.
    auto options = TrackQualityOption::available(track);
    if (!options.empty() && options.front().quality != Quality::standard)
        return DetailRefreshDecision::cached();

    auto stored = record(track.musicID());
    if (!stored) return DetailRefreshDecision::refresh();
    if (stored->detailRefreshVersion == TrackDetailCachePolicy::currentVersion &&
        stored->detailRefreshedAt &&
        TrackDetailCachePolicy::after(*stored->detailRefreshedAt, policy.ttl) > now)
        return DetailRefreshDecision::cached();
    if (stored->detailRetryAfter && *stored->detailRetryAfter > now)
        return DetailRefreshDecision::retryDeferred(*stored->detailRetryAfter);
    return DetailRefreshDecision::refresh();
}

TrackRecord LibraryStore::recordTrackDetailSuccess(const Track& fetched,
                                                   const std::string& requestedMusicID, Date at,
                                                   std::int64_t version) {
    const auto received = fetched.musicID();
    if (received != requestedMusicID)
        throw TrackDetailRefreshError::identityMismatch(requestedMusicID, received);
    Transaction transaction(db());
    TrackRecord stored = upsert(fetched);
    db().query(
            "UPDATE track_records SET detail_refreshed_at = ?, detail_refresh_version = ?,"
            " detail_retry_after = NULL WHERE id = ?")
        .bind(1, LibraryRows::storedDate(at))
        .bind(2, version)
        .bind(3, stored.rowId)
        .run();
    transaction.commit();
    stored.detailRefreshedAt = at;
    stored.detailRefreshVersion = version;
    stored.detailRetryAfter.reset();
    return stored;
}

void LibraryStore::recordTrackDetailFailure(const Track& requested, Date retryAfter) {
    Transaction transaction(db());
    auto stored = record(requested.musicID());
    if (!stored) return;
    db().query("UPDATE track_records SET detail_retry_after = ? WHERE id = ?")
        .bind(1, LibraryRows::storedDate(retryAfter))
        .bind(2, stored->rowId)
        .run();
    transaction.commit();
}

}  // namespace velto
