#include <gtest/gtest.h>

#include "sources/model/TrackQualityOption.h"

using namespace velto;

namespace {

std::vector<TrackQualityOption> options(const std::string& payload) {
    Track track;
    track.songmid = "1";
    track.payload = payload;
    return TrackQualityOption::available(track);
}

}  // namespace

TEST(TrackQualityOption, OrdersBestFirstKeepingTheFirstEntryPerQuality) {
    auto found = options(R"({"types":[{"type":"320k","size":"9.1M"},{"type":"128k"},
        {"type":"flac","size":" 30M \n"},{"type":"flac","size":"31M"}]})");
    EXPECT_EQ(found,
              (std::vector<TrackQualityOption>{
                  {Quality::lossless, "30M"}, {Quality::high, "9.1M"}, {Quality::standard, ""}}));
    EXPECT_EQ(found.front().id(), Quality::lossless);

    auto all = options(R"({"types":[{"type":"128k"},{"type":"master","size":1},
        {"type":"flac24bit"},{"type":"FLAC"},{"type":"flac24"},{"type":3},{"size":"1M"}]})");
    EXPECT_EQ(all, (std::vector<TrackQualityOption>{
                       {Quality::master, ""}, {Quality::hiRes, ""}, {Quality::standard, ""}}));
}

TEST(TrackQualityOption, UnusableListsGiveNoOptions) {
    for (const char* payload :
         {"", "[]", "{}", R"({"types":{"type":"128k"}})", R"({"types":"128k"})",
          R"({"types":[{"type":"128k"},"flac"]})", R"({"types":[]})", R"({"types":null})"})
        EXPECT_TRUE(options(payload).empty()) << payload;
}
