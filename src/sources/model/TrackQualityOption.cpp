#include "sources/model/TrackQualityOption.h"

#include <optional>

#include "sources/model/JsonReading.h"

namespace velto {

std::vector<TrackQualityOption> TrackQualityOption::available(const Track& track) {
    auto payload = track.rawPayload();
    auto types = payload->find("types");
    if (types == payload->end() || !types->is_array()) return {};
    for (const auto& entry : *types)
        if (!entry.is_object()) return {};

    std::vector<TrackQualityOption> options;
    for (const auto& entry : *types) {
        auto type = readText(entry, "type");
        if (!type) continue;
        auto quality = qualityFromRaw(*type);
        if (!quality) continue;
        options.push_back({*quality, trimmed(readText(entry, "size").value_or(""))});
    }

    std::vector<TrackQualityOption> ordered;
    for (auto quality : Qualities::descendingOrder) {
        for (const auto& option : options) {
            if (option.quality == quality) {
                ordered.push_back(option);
                break;
            }
        }
    }
    return ordered;
}

}  // namespace velto
