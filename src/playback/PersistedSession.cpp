#include "playback/PersistedSession.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace velto {

namespace {
// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr double referenceDateUnixSeconds = 978307200.0;
// No save writes a date a century away; far enough out, the clock cannot hold the date at all
// and the age of the session would not fit either.
constexpr double furthestSavedAtSeconds = 100 * 365.25 * 86400;
}  // namespace

double PersistedSession::secondsSinceReferenceDate(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count() -
           referenceDateUnixSeconds;
}

std::chrono::system_clock::time_point PersistedSession::dateFromReferenceSeconds(double seconds) {
    auto sinceEpoch = std::chrono::duration<double>(seconds + referenceDateUnixSeconds);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceEpoch));
}

Bytes PersistedSession::encode() const {
    nlohmann::json object = {
        {"track", track.toJSON()},
        {"elapsed", elapsed},
        {"savedAt", secondsSinceReferenceDate(savedAt)},
    };
    std::string text = object.dump();
    return Bytes(text.begin(), text.end());
}

std::optional<PersistedSession> PersistedSession::decode(const Bytes& data) {
    auto object = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    auto track = object.find("track");
    auto elapsed = object.find("elapsed");
    auto savedAt = object.find("savedAt");
    if (track == object.end() || elapsed == object.end() || savedAt == object.end())
        return std::nullopt;
    if (!elapsed->is_number() || !savedAt->is_number()) return std::nullopt;
    double savedSeconds = savedAt->get<double>();
    if (!std::isfinite(savedSeconds) || std::fabs(savedSeconds) > furthestSavedAtSeconds)
        return std::nullopt;
    try {
        return PersistedSession{Track::fromJSON(*track), elapsed->get<double>(),
                                dateFromReferenceSeconds(savedSeconds)};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace velto
