#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "sources/model/SourceError.h"
#include "sources/model/Track.h"

namespace velto {

inline Track makeTrack(MusicSource source, const std::string& songmid,
                       nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json raw = {{"songmid", songmid}, {"name", "Song"}, {"singer", "Singer"}};
    raw.update(extra);
    return Track::fromRaw(source, raw);
}

// The SourceError that `work` throws, or a failure when it throws nothing or something else.
inline std::string sourceErrorOf(const std::function<void()>& work,
                                 SourceError::Kind kind = SourceError::Kind::source) {
    try {
        work();
    } catch (const SourceError& error) {
        EXPECT_EQ(error.kind(), kind) << error.what();
        return error.what();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return {};
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

}  // namespace velto
