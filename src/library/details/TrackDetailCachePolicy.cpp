#include "library/details/TrackDetailCachePolicy.h"

#include <cmath>
#include <limits>

namespace velto {

namespace {
// NaN fails every comparison, so it lands on 0 too.
double nonNegative(double value) {
    return value >= 0 ? value : 0;
}
}  // namespace

TrackDetailCachePolicy::TrackDetailCachePolicy(double ttlSeconds, double retryDelaySeconds)
    : ttl(nonNegative(ttlSeconds)), failureRetryDelay(nonNegative(retryDelaySeconds)) {}

TrackDetailCachePolicy TrackDetailCachePolicy::production() {
    return TrackDetailCachePolicy(2592000, 21600);
}

TrackDetailCachePolicy::Date TrackDetailCachePolicy::after(Date date, double seconds) {
    using Rep = Date::duration::rep;
    using Period = Date::duration::period;
    if (std::isnan(seconds)) return date;
    const double ticks = seconds * Period::den / Period::num;
    const Rep now = date.time_since_epoch().count();
    // A step of 2^63 ticks or more (an infinite time to live included) is held at the end, as
    // no date in use is that far from it; a smaller one is whole ticks, added with a check.
    constexpr double reach = 0x1p63;
    if (ticks >= reach) return Date::max();
    if (ticks < -reach) return Date::min();
    const auto step = static_cast<Rep>(std::llround(ticks));
    if (step > 0 && now > std::numeric_limits<Rep>::max() - step) return Date::max();
    if (step < 0 && now < std::numeric_limits<Rep>::min() - step) return Date::min();
    return Date(Date::duration(now + step));
}

}  // namespace velto
