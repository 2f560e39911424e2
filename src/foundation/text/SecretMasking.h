#pragma once

#include <string>
#include <string_view>

namespace velto {

// Hides a secret (an API key, a login cookie) in text that a server may have echoed back: an
// error message, a redirect address. Servers echo what they received in whatever encoding they
// like, so every byte of the secret may appear as itself (its letters in either case),
// percent-encoded with upper- or lower-case hex, percent-encoded twice ("%25" + hex), or as '+'
// for a space; or the whole secret as hex digits of either case. A server may also echo a Base64
// text that contains the secret (as itself, or percent-encoded as in an address) somewhere
// inside, in the standard or the URL-safe alphabet, padded or not, its characters
// percent-encoded or not, its lines broken as MIME breaks them (CR LF or LF). The work is linear
// in the text.
namespace SecretMasking {

inline constexpr std::string_view mask = "***";

// Secrets shorter than this are looked for only with their letters' case kept, and neither as hex
// nor in Base64: so few characters would match ordinary words.
inline constexpr std::size_t shortestEncodedSecret = 8;

// `text` with every occurrence of `secret`, in any of those forms, replaced by `mask`. An empty
// secret changes nothing.
std::string masked(std::string_view text, std::string_view secret);

}  // namespace SecretMasking
}  // namespace velto
