#include "foundation/text/BoundedJson.h"

namespace velto::BoundedJson {

bool nestsDeeperThan(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > limit) return true;
                break;
            case ']':
            case '}':
                if (depth > 0) --depth;
                break;
            default:
                break;
        }
    }
    return false;
}

nlohmann::json parse(std::string_view text) {
    if (nestsDeeperThan(text, maxDepth)) return nlohmann::json(nlohmann::json::value_t::discarded);
    try {
        return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    } catch (const nlohmann::json::exception&) {
        // Defensive: a throw here would bypass every caller's handling of bad input.
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}

}  // namespace velto::BoundedJson
