#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

// The catalogue a song comes from. Declaration order: wy, tx, kg, local.
enum class MusicSource { wy, tx, kg, local };

std::string_view rawValue(MusicSource source);
// Exactly the raw texts "wy", "tx", "kg", "local" (case-sensitive); anything else gives none.
std::optional<MusicSource> musicSourceFromRaw(std::string_view raw);
std::string_view displayName(MusicSource source);
bool isEnabled(MusicSource source);
bool supportsCatalog(MusicSource source);
// Throws SourceError::source("<display name>音源暂不可用，已收藏的歌曲会保留。") for disabled sources.
void requireEnabled(MusicSource source);

struct PlaylistCategory;
// The playlist categories a source offers: two for tx, none for the others.
std::vector<PlaylistCategory> playlistCategories(MusicSource source);

namespace MusicSources {
extern const std::vector<MusicSource> allCases;  // kg, wy, tx, local
extern const std::vector<MusicSource> searchSources;
extern const std::vector<MusicSource> browseSources;
extern const std::vector<MusicSource> playlistImportSources;
extern const std::vector<MusicSource> catalogSources;
}  // namespace MusicSources

}  // namespace velto
