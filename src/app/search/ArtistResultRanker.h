#pragma once

#include <string_view>
#include <vector>

#include "sources/model/SourceRecords.h"

namespace velto {

// Orders artists: an exact name first, then names that contain or are contained in the
// keyword, then the rest; input order otherwise. Stateless.
class ArtistResultRanker {
  public:
    ArtistResultRanker() = delete;
    static std::vector<ArtistSummary> rank(const std::vector<ArtistSummary>& artists,
                                           std::string_view keyword);
};

}  // namespace velto
