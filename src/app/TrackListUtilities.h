#pragma once

#include <vector>

#include "sources/model/SourceRecords.h"
#include "sources/model/Track.h"

namespace velto {

// List helpers shared by the catalogue page models.
namespace TrackListUtilities {

// Keeps the first song of each key, in input order.
std::vector<Track> deduplicated(const std::vector<Track>& tracks);
// Keeps the first album of each stable id, in input order.
std::vector<AlbumSummary> deduplicated(const std::vector<AlbumSummary>& albums);
// Newest release date first by text order; undated albums last; ties keep input order.
std::vector<AlbumSummary> sortedNewestFirst(std::vector<AlbumSummary> albums);

}  // namespace TrackListUtilities
}  // namespace velto
