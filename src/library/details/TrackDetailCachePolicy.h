#pragma once

#include <chrono>
#include <cstdint>

namespace velto {

// How long fetched song details stay good, and how long a song is left alone after a failed
// fetch. Negative and NaN durations are stored as 0.
struct TrackDetailCachePolicy {
    using Date = std::chrono::system_clock::time_point;

    double ttl = 0;                // seconds
    double failureRetryDelay = 0;  // seconds, from the `now` of the caller that started the fetch

    TrackDetailCachePolicy(double ttl, double failureRetryDelay);

    static TrackDetailCachePolicy production();  // 30 days, 6 hours
    // `date` moved by `seconds`, held at the ends of the clock's range: an infinite time to live
    // never ends. NaN moves nothing.
    static Date after(Date date, double seconds);
    // The detail version a success writes; only records of this version count as fresh.
    static constexpr std::int64_t currentVersion = 1;
};

}  // namespace velto
