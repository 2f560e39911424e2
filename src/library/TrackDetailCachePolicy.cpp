#include "library/TrackDetailCachePolicy.h"

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

}  // namespace velto
