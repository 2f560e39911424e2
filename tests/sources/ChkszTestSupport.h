#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "sources/model/SourceError.h"
#include "support/SourceErrorOf.h"
#include "sources/model/Track.h"

namespace velto {

inline Track makeTrack(MusicSource source, const std::string& songmid,
                       nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json raw = {{"songmid", songmid}, {"name", "Song"}, {"singer", "Singer"}};
    raw.update(extra);
    return Track::fromRaw(source, raw);
}

}  // namespace velto
