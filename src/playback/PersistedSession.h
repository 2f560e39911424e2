#pragma once

#include <chrono>
#include <optional>

#include "foundation/files/UserDefaults.h"
#include "sources/model/Track.h"

namespace velto {

// The song that was playing and where, kept so that the next start can continue from there.
// Coded as {"track", "elapsed", "savedAt"}; "savedAt" counts seconds since 2001-01-01 00:00 UTC.
struct PersistedSession {
    Track track;
    double elapsed = 0;
    std::chrono::system_clock::time_point savedAt;

    Bytes encode() const;
    // None when the data is not a complete, well-typed session.
    static std::optional<PersistedSession> decode(const Bytes& data);

    static double secondsSinceReferenceDate(std::chrono::system_clock::time_point time);
    static std::chrono::system_clock::time_point dateFromReferenceSeconds(double seconds);
};

}  // namespace velto
