#include "ui/style/MacTime.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace velto {

std::string macTime(double seconds) {
    std::int64_t total = 0;
    if (std::isfinite(seconds) && seconds > 0) {
        // 2^63 is the first double past the range; converting it or more is undefined.
        constexpr double limit = 9223372036854775808.0;
        total = seconds >= limit ? std::numeric_limits<std::int64_t>::max()
                                 : static_cast<std::int64_t>(seconds);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(total / 60),
                  static_cast<long long>(total % 60));
    return text;
}

double nextMacTimeChange(double seconds) {
    if (std::isnan(seconds)) return std::numeric_limits<double>::infinity();
    return std::floor(std::max(seconds, 0.0)) + 1;
}

}  // namespace velto
