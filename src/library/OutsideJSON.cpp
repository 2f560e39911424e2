#include "library/OutsideJSON.h"

namespace velto::OutsideJSON {

namespace {

// The deepest nesting of arrays and objects, found in one pass over the text (strings
// skipped). Exact for JSON; for other text the parser refuses it anyway.
bool nestsTooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maximumDepth) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

}  // namespace

std::optional<nlohmann::json> parse(std::string_view text) {
    // The parser keeps its nesting on the heap; the check spares the readers after it. (Its
    // callback could count too, but then it rescans an array at the end of every element.)
    if (nestsTooDeep(text)) return std::nullopt;
    auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

}  // namespace velto::OutsideJSON
