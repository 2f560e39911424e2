#pragma once

#include <stop_token>
#include <string_view>

#include "library/online/OnlinePlaylistPreview.h"
#include "sources/model/MusicSource.h"

namespace velto {

// What the import sheet asks of the online playlist import. Blocking, for a worker.
class OnlinePlaylistImporting {
public:
    virtual ~OnlinePlaylistImporting() = default;
    // `source` is used only for a bare identifier.
    virtual OnlinePlaylistPreview preview(std::string_view text, MusicSource source,
                                          std::stop_token stop) = 0;
};

}  // namespace velto
