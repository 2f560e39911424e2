#include "sources/model/JsonReading.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace velto {

std::optional<std::int64_t> parseDecimalInteger(std::string_view text) {
    if (text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulate toward the negative side so that the minimum value fits.
    std::int64_t value = 0;
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        int digit = c - '0';
        if (value < (min + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == min) return std::nullopt;
    return -value;
}

std::optional<std::int64_t> readInteger(const nlohmann::json& value) {
    using Type = nlohmann::json::value_t;
    switch (value.type()) {
        case Type::number_integer:
            return value.get<std::int64_t>();
        case Type::number_unsigned: {
            auto number = value.get<std::uint64_t>();
            if (number > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
                return std::nullopt;
            return std::int64_t(number);
        }
        case Type::number_float: {
            double number = std::trunc(value.get<double>());
            // 2^63 is exact as a double; NaN fails both comparisons.
            if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0))
                return std::nullopt;
            return std::int64_t(number);
        }
        case Type::string:
            return parseDecimalInteger(value.get_ref<const std::string&>());
        default:
            return std::nullopt;
    }
}

std::optional<std::int64_t> readInteger(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    return readInteger(*it);
}

std::optional<std::string> readText(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string shortestNumberText(double value) {
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    if (error != std::errc()) return {};
    return std::string(buffer.data(), end);
}

namespace {

// The spaces and line breaks beyond ASCII that count as blanks, in UTF-8.
constexpr std::string_view wideSpaces[] = {"\u0085", "\u00A0", "\u1680", "\u2000", "\u2001",
                                           "\u2002", "\u2003", "\u2004", "\u2005", "\u2006",
                                           "\u2007", "\u2008", "\u2009", "\u200A", "\u2028",
                                           "\u2029", "\u202F", "\u205F", "\u3000"};

// Length of the white space or line break that starts `text`, 0 when there is none.
std::size_t leadingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    unsigned char c = text[0];
    if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
    for (auto space : wideSpaces)
        if (text.starts_with(space)) return space.size();
    return 0;
}

std::size_t trailingSpaceLength(std::string_view text) {
    if (text.empty()) return 0;
    unsigned char c = text.back();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
    for (auto space : wideSpaces)
        if (text.ends_with(space)) return space.size();
    return 0;
}

}  // namespace

std::string trimmed(std::string_view text) {
    while (auto n = leadingSpaceLength(text)) text.remove_prefix(n);
    while (auto n = trailingSpaceLength(text)) text.remove_suffix(n);
    return std::string(text);
}

}  // namespace velto
