#pragma once

#include <string>
#include <string_view>

namespace velto {

// Hides a secret (an API key, a login cookie) in text that a server may have echoed back: an
// error message, a redirect address. Servers echo what they received in whatever encoding they
// like, so every byte of the secret may appear as itself, percent-encoded with upper- or
// lower-case hex, percent-encoded twice ("%25" + hex), or as '+' for a space.
namespace SecretMasking {

inline constexpr std::string_view mask = "***";

// `text` with every occurrence of `secret`, in any of those forms, replaced by `mask`. An empty
// secret changes nothing.
std::string masked(std::string_view text, std::string_view secret);

}  // namespace SecretMasking
}  // namespace velto
