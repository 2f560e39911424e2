#include "foundation/SecretMasking.h"

#include <optional>

namespace velto::SecretMasking {

namespace {

std::optional<unsigned> hexValue(char c) {
    if (c >= '0' && c <= '9') return unsigned(c - '0');
    if (c >= 'a' && c <= 'f') return unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return unsigned(c - 'A' + 10);
    return std::nullopt;
}

// The byte a "%XX" at `at` stands for.
std::optional<unsigned char> escapedByte(std::string_view text, std::size_t at) {
    if (at + 2 >= text.size() || text[at] != '%') return std::nullopt;
    auto high = hexValue(text[at + 1]);
    auto low = hexValue(text[at + 2]);
    if (!high || !low) return std::nullopt;
    return static_cast<unsigned char>(*high * 16 + *low);
}

// Length of the form of `byte` that starts at `at`; 0 when none does.
std::size_t formLength(std::string_view text, std::size_t at, unsigned char byte) {
    if (at >= text.size()) return 0;
    if (static_cast<unsigned char>(text[at]) == byte) return 1;
    if (byte == ' ' && text[at] == '+') return 1;
    if (auto decoded = escapedByte(text, at)) {
        if (*decoded == byte) return 3;
        // "%25" is an escaped '%', so "%25" and two hex digits is the byte encoded twice.
        if (*decoded == '%' && at + 4 < text.size()) {
            auto high = hexValue(text[at + 3]);
            auto low = hexValue(text[at + 4]);
            if (high && low && *high * 16 + *low == byte) return 5;
        }
    }
    return 0;
}

// Length of the secret's occurrence starting at `at`; 0 when there is none.
std::size_t occurrenceLength(std::string_view text, std::size_t at, std::string_view secret) {
    std::size_t end = at;
    for (char c : secret) {
        std::size_t length = formLength(text, end, static_cast<unsigned char>(c));
        if (length == 0) return 0;
        end += length;
    }
    return end - at;
}

}  // namespace

std::string masked(std::string_view text, std::string_view secret) {
    if (secret.empty()) return std::string(text);
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (std::size_t length = occurrenceLength(text, at, secret)) {
            result += mask;
            at += length;
        } else {
            result += text[at++];
        }
    }
    return result;
}

}  // namespace velto::SecretMasking
