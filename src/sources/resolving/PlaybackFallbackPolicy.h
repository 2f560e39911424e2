#pragma once

#include <string_view>

namespace velto {

// Whether a failure message of one quality makes a lower quality worth asking.
namespace PlaybackFallbackPolicy {

bool allowsFallback(std::string_view message);

}  // namespace PlaybackFallbackPolicy

}  // namespace velto
