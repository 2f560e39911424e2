#include <gtest/gtest.h>

#include <string>

#include "foundation/BoundedJson.h"

namespace velto {
namespace {

std::string nested(std::size_t depth, std::string_view open = "[", std::string_view close = "]") {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += open;
    for (std::size_t i = 0; i < depth; ++i) text += close;
    return text;
}

TEST(BoundedJson, RefusesNestingBeyondTheLimitAndOnlyThat) {
    EXPECT_TRUE(BoundedJson::parse(nested(BoundedJson::maxDepth)).is_array());
    EXPECT_TRUE(BoundedJson::parse(nested(BoundedJson::maxDepth + 1)).is_discarded());
    EXPECT_TRUE(BoundedJson::parse(nested(200'000, R"({"a":)", "}")).is_discarded());
    // Brackets inside texts, escaped quotes included, are no nesting.
    const std::string inText = R"({"a":"\"[[[[","b":")" + std::string(1000, '{') + "\"}";
    EXPECT_TRUE(BoundedJson::parse(inText).is_object());
    EXPECT_TRUE(BoundedJson::parse("not json").is_discarded());
}

}  // namespace
}  // namespace velto
