#include "sources/model/MusicSource.h"

#include "sources/model/SourceError.h"
#include "sources/model/SourceRecords.h"

namespace velto {

std::string_view rawValue(MusicSource source) {
    switch (source) {
        case MusicSource::wy:
            return "wy";
        case MusicSource::tx:
            return "tx";
        case MusicSource::kg:
            return "kg";
        case MusicSource::local:
            return "local";
    }
    return "wy";
}

std::optional<MusicSource> musicSourceFromRaw(std::string_view raw) {
    for (auto source : {MusicSource::wy, MusicSource::tx, MusicSource::kg, MusicSource::local})
        if (raw == rawValue(source)) return source;
    return std::nullopt;
}

std::string_view displayName(MusicSource source) {
    switch (source) {
        case MusicSource::wy:
            return "网易云";
        case MusicSource::tx:
            return "QQ";
        case MusicSource::kg:
            return "酷狗";
        case MusicSource::local:
            return "本地";
    }
    return "";
}

namespace MusicSources {
const std::vector<MusicSource> allCases = {MusicSource::kg, MusicSource::wy, MusicSource::tx,
                                           MusicSource::local};
const std::vector<MusicSource> searchSources = {MusicSource::wy};
const std::vector<MusicSource> browseSources = {MusicSource::wy};
const std::vector<MusicSource> playlistImportSources = {MusicSource::wy};
const std::vector<MusicSource> catalogSources = {};
}  // namespace MusicSources

static bool contains(const std::vector<MusicSource>& list, MusicSource source) {
    for (auto member : list)
        if (member == source) return true;
    return false;
}

bool isEnabled(MusicSource source) {
    return source == MusicSource::local || contains(MusicSources::searchSources, source);
}

bool supportsCatalog(MusicSource source) {
    return contains(MusicSources::catalogSources, source);
}

void requireEnabled(MusicSource source) {
    if (isEnabled(source)) return;
    throw SourceError::source(std::string(displayName(source)) +
                              "音源暂不可用，已收藏的歌曲会保留。");
}

std::vector<PlaylistCategory> playlistCategories(MusicSource source) {
    if (source == MusicSource::tx) return {{"5", "最热"}, {"2", "最新"}};
    return {};
}

}  // namespace velto
