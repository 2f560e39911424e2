#include <gtest/gtest.h>

#include "foundation/text/Base64.h"
#include "foundation/text/JsonWriter.h"

using namespace velto;

TEST(JsonWriter, SortsKeysAtEveryLevelAndEscapesLikeThePlatformWriter) {
    auto a = nlohmann::json::parse(R"({"z":1,"a":{"y":[1,"x/y"],"b":null},"m":"歌\n\"q\""})");
    EXPECT_EQ(writeSortedJSON(a), R"({"a":{"b":null,"y":[1,"x\/y"]},"m":"歌\n\"q\"","z":1})");
    auto b = nlohmann::json::parse(R"({"m":"歌\n\"q\"","a":{"b":null,"y":[1,"x/y"]},"z":1})");
    EXPECT_EQ(writeSortedJSON(a), writeSortedJSON(b));
    EXPECT_EQ(writeSortedJSON(nlohmann::json("\x01")), R"("\u0001")");
    EXPECT_EQ(writeSortedJSON(nlohmann::json::parse("[1.5,-3,true]")), "[1.5,-3,true]");
}

TEST(JsonWriter, RefusesWhatJsonCannotHold) {
    EXPECT_THROW(writeSortedJSON(nlohmann::json(std::string("\xc3\x28"))), std::invalid_argument);
    EXPECT_THROW(writeSortedJSON(nlohmann::json(std::nan(""))), std::invalid_argument);
}

TEST(Base64, RoundTripsAndRejectsMalformedText) {
    for (std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
        auto encoded = Base64::encode(text);
        auto decoded = Base64::decode(encoded);
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), text);
    }
    EXPECT_EQ(Base64::encode("foobar"), "Zm9vYmFy");
    EXPECT_FALSE(Base64::decode("Zm9"));
    EXPECT_FALSE(Base64::decode("Zm=v"));
    EXPECT_FALSE(Base64::decode("Zm9v!A=="));
}
