#include "library/OutsideJSON.h"

namespace velto::OutsideJSON {

namespace {

struct TooDeep {};

}  // namespace

std::optional<nlohmann::json> parse(std::string_view text) {
    using Event = nlohmann::json::parse_event_t;
    // The parser itself keeps its nesting on the heap; the check spares the readers after it.
    auto depthCheck = [](int depth, Event event, nlohmann::json&) {
        if ((event == Event::object_start || event == Event::array_start) && depth >= maximumDepth)
            throw TooDeep{};
        return true;
    };
    try {
        auto value = nlohmann::json::parse(text, depthCheck, /*allow_exceptions=*/false);
        if (value.is_discarded()) return std::nullopt;
        return value;
    } catch (const TooDeep&) {
        return std::nullopt;
    }
}

}  // namespace velto::OutsideJSON
