#include "sources/model/Quality.h"

namespace velto {

std::string_view rawValue(Quality quality) {
    switch (quality) {
        case Quality::standard:
            return "128k";
        case Quality::high:
            return "320k";
        case Quality::lossless:
            return "flac";
        case Quality::hiRes:
            return "flac24bit";
        case Quality::master:
            return "master";
    }
    return "128k";
}

std::optional<Quality> qualityFromRaw(std::string_view raw) {
    // A local list, so that lookups are safe during static initialisation elsewhere.
    for (auto quality :
         {Quality::standard, Quality::high, Quality::lossless, Quality::hiRes, Quality::master})
        if (raw == rawValue(quality)) return quality;
    return std::nullopt;
}

int rank(Quality quality) {
    return static_cast<int>(quality);
}

namespace Qualities {
const std::vector<Quality> allCases = {Quality::standard, Quality::high, Quality::lossless,
                                       Quality::hiRes, Quality::master};
const std::vector<Quality> descendingOrder = {Quality::master, Quality::hiRes, Quality::lossless,
                                              Quality::high, Quality::standard};
}  // namespace Qualities

}  // namespace velto
