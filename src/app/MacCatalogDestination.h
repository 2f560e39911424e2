#pragma once

#include <QMetaType>
#include <optional>
#include <string>
#include <variant>

#include "sources/model/SourceRecords.h"

namespace velto {

enum class MacCatalogKind { artist, album, playlist };

// A place opened inside the panel: an artist, an album or an online playlist with the summary
// it was opened with. Deliberately not comparable: opening the same artist twice gives two
// places.
class MacCatalogDestination {
  public:
    MacCatalogDestination() = default;
    static MacCatalogDestination artist(ArtistSummary summary) { return {std::move(summary)}; }
    static MacCatalogDestination album(AlbumSummary summary) { return {std::move(summary)}; }
    static MacCatalogDestination playlist(PlaylistSummary summary) { return {std::move(summary)}; }

    MacCatalogKind kind() const { return MacCatalogKind(summary_.index()); }
    // The title of the place's header.
    const std::string& name() const;

    // The summary of the matching kind, or null.
    const ArtistSummary* artistSummary() const { return std::get_if<ArtistSummary>(&summary_); }
    const AlbumSummary* albumSummary() const { return std::get_if<AlbumSummary>(&summary_); }
    const PlaylistSummary* playlistSummary() const {
        return std::get_if<PlaylistSummary>(&summary_);
    }

    // How the place's page was left for a place opened from it, so that going back shows it
    // so: its tab, how far its list was scrolled, and the entry that opened the next place.
    struct Left {
        int tab = 0;
        double scroll = 0;
        int entry = -1;
    };
    const std::optional<Left>& left() const { return left_; }
    MacCatalogDestination leftAs(Left left) const {
        MacCatalogDestination copy = *this;
        copy.left_ = left;
        return copy;
    }

  private:
    using Summary = std::variant<ArtistSummary, AlbumSummary, PlaylistSummary>;
    MacCatalogDestination(Summary summary) : summary_(std::move(summary)) {}

    Summary summary_;
    std::optional<Left> left_;
};

}  // namespace velto

Q_DECLARE_METATYPE(velto::MacCatalogDestination)
