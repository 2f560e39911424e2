#pragma once

#include <string>
#include <string_view>

namespace velto::ArtworkCacheHash {

// SHA-256 of the UTF-8 bytes, as 64 lower-case hexadecimal digits.
std::string hexDigest(std::string_view text);

}  // namespace velto::ArtworkCacheHash
