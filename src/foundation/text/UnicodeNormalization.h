#pragma once

#include <string>
#include <string_view>

namespace velto {

namespace UnicodeNormalization {

// Canonical composition (NFC) of UTF-8 text. Invalid bytes become U+FFFD.
std::string nfc(std::string_view text);

}  // namespace UnicodeNormalization
}  // namespace velto
