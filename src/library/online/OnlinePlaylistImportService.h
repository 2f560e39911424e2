#pragma once

#include <cstddef>
#include <memory>

#include "library/online/OnlinePlaylistImporting.h"
#include "library/online/PlaylistShareLinkResolving.h"
#include "sources/rovoz/ChkszAPIRequesting.h"

namespace velto {

// Reads a public NetEase playlist through the RoVOz service for a preview. Keeps no state, so
// previews may run at the same time on any workers.
class OnlinePlaylistImportService : public OnlinePlaylistImporting {
public:
    static constexpr std::size_t maximumBodyBytes = 10'485'760;
    static constexpr std::size_t maximumTrackCount = 5'000;

    OnlinePlaylistImportService(std::shared_ptr<ChkszAPIRequesting> chkszAPI,
                                std::shared_ptr<PlaylistShareLinkResolving> shareLinks);

    // Throws OnlinePlaylistImportError, SourceError (source switched off, RoVOz request),
    // OnlinePlaylistJSONError (an answer that is not JSON), PlaylistBackupError (a song or name
    // a backup would refuse) or CancellationError.
    OnlinePlaylistPreview preview(std::string_view text, MusicSource source,
                                  std::stop_token stop) override;

private:
    OnlinePlaylistPreview readNetEase(const OnlinePlaylistReference& reference, std::stop_token stop);

    std::shared_ptr<ChkszAPIRequesting> chkszAPI_;
    std::shared_ptr<PlaylistShareLinkResolving> shareLinks_;
};

}  // namespace velto
