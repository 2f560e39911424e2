#pragma once

#include <string>

namespace velto {

// Seconds as "m:ss" (minutes unbounded, no hour field). Not finite or negative gives 0:00;
// values beyond 64 bits are clamped rather than converted.
std::string macTime(double seconds);
// The position past `seconds` at which macTime next reads otherwise: the next whole second.
double nextMacTimeChange(double seconds);

}  // namespace velto
