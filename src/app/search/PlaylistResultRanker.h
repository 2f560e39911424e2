#pragma once

#include <string_view>
#include <vector>

#include "sources/model/SourceRecords.h"

namespace velto {

// Orders playlists by how well name, author and description match the keyword; input order
// otherwise. Stateless.
class PlaylistResultRanker {
  public:
    PlaylistResultRanker() = delete;
    static std::vector<PlaylistSummary> rank(const std::vector<PlaylistSummary>& playlists,
                                             std::string_view keyword);
    // `target` is the keyword's name form.
    static int score(const PlaylistSummary& playlist, std::string_view target);
};

}  // namespace velto
