#include "sources/model/SourceReleaseDate.h"

#include <cstdio>
#include <string_view>

#include "sources/model/JsonReading.h"

namespace velto::SourceReleaseDate {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Consumes one of the separators; `unit` is the CJK sign allowed besides "-", "." and "/".
bool consumeSeparator(std::string_view& text, std::string_view unit) {
    if (!text.empty() && (text[0] == '-' || text[0] == '.' || text[0] == '/')) {
        text.remove_prefix(1);
        return true;
    }
    if (text.starts_with(unit)) {
        text.remove_prefix(unit.size());
        return true;
    }
    return false;
}

// One or two digits, greedy; the caller tries the shorter form when what follows does not fit.
int leadingDigitCount(std::string_view text) {
    int count = 0;
    while (count < 2 && count < int(text.size()) && isDigit(text[count])) ++count;
    return count;
}

int number(std::string_view digits) {
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && isLeapYear(year)) return 29;
    return days[month - 1];
}

}  // namespace

std::optional<std::string> normalizedString(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::string value = trimmed(*text);
    if (value.empty()) return std::nullopt;

    std::string_view rest = value;
    if (rest.size() < 4) return std::nullopt;
    for (int i = 0; i < 4; ++i)
        if (!isDigit(rest[i])) return std::nullopt;
    int year = number(rest.substr(0, 4));
    rest.remove_prefix(4);
    if (!consumeSeparator(rest, "年")) return std::nullopt;

    // The month may be one or two digits; with two digits not followed by a separator, one
    // digit followed by one is the other way the start can match.
    std::optional<int> month;
    for (int length = leadingDigitCount(rest); length >= 1; --length) {
        std::string_view afterMonth = rest.substr(length);
        if (consumeSeparator(afterMonth, "月")) {
            month = number(rest.substr(0, length));
            rest = afterMonth;
            break;
        }
    }
    if (!month) return std::nullopt;
    int dayLength = leadingDigitCount(rest);
    if (dayLength == 0) return std::nullopt;
    int day = number(rest.substr(0, dayLength));

    // Year 0 is 1 BC in the Gregorian calendar and reads back as another year.
    if (year < 1 || *month < 1 || *month > 12 || day < 1 || day > daysInMonth(year, *month))
        return std::nullopt;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, *month, day);
    return std::string(buffer);
}

}  // namespace velto::SourceReleaseDate
