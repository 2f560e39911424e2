#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ArtworkTestSupport.h"
#include "artwork/ArtworkDecoder.h"
#include "support/HostileCovers.h"

using namespace velto;
using namespace velto::artworktest;

namespace {

// A JPEG of `width` × `height`, left half red and right half blue, with an EXIF orientation.
std::string orientedJpeg(int width, int height, int orientation) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* p = pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            p[0] = x < width / 2 ? 220 : 0, p[2] = x < width / 2 ? 0 : 220, p[3] = 255;
        }
    std::string body = *ArtworkJPEG::encode(*ArtworkImage::make(width, height, pixels), 0.9);
    // APP1 "Exif", big-endian TIFF, IFD0 with the one orientation entry.
    const std::string tiff{"MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19};
    std::string exif = std::string("Exif\0\0", 6) + tiff + char(orientation) + std::string(6, '\0');
    const std::size_t length = exif.size() + 2;
    std::string segment = {char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)};
    return body.substr(0, 2) + segment + exif + body.substr(2);
}

// A picture header claiming `side` × `side` with next to no data behind it.
std::string forgedJpeg(int side) {
    std::string valid = jpeg(16, 16, 1, 2, 3);
    const auto sof = valid.find("\xFF\xC0");
    valid[sof + 5] = char(side >> 8), valid[sof + 6] = char(side & 0xFF);
    valid[sof + 7] = char(side >> 8), valid[sof + 8] = char(side & 0xFF);
    return valid;
}

std::string forgedPng(int side) {
    std::string valid = png(*solid(4, 4, 1, 2, 3));
    for (int at : {16, 20}) {
        valid[at] = 0, valid[at + 1] = 0, valid[at + 2] = char(side >> 8), valid[at + 3] = char(side);
    }
    return valid;
}

}  // namespace

TEST(ArtworkDecoder, LargeJpegIsBoundedByTheLongestSide) {
    const auto data = jpeg(3000, 2000, 10, 200, 10);
    auto image = ArtworkDecoder::downsample(data, 1200);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 1200);
    EXPECT_EQ(image->height(), 800);
    EXPECT_GT(image->row(400)[1], 180);
    // Never enlarged.
    auto small = ArtworkDecoder::downsample(jpeg(300, 200, 10, 200, 10), 1200);
    EXPECT_EQ(small->width(), 300);
}

TEST(ArtworkDecoder, ExifOrientationTurnsThePictureUpright) {
    auto six = ArtworkDecoder::downsample(orientedJpeg(400, 200, 6), 1200);
    ASSERT_TRUE(six);
    EXPECT_EQ(six->width(), 200);
    EXPECT_EQ(six->height(), 400);
    EXPECT_GT(redAt(*six, 100, 10), 150);  // the left half turned clockwise is on top
    EXPECT_LT(redAt(*six, 100, 390), 50);
    auto eight = ArtworkDecoder::downsample(orientedJpeg(400, 200, 8), 1200);
    EXPECT_LT(redAt(*eight, 100, 10), 50);
    auto three = ArtworkDecoder::downsample(orientedJpeg(400, 200, 3), 100);
    EXPECT_EQ(three->width(), 100);
    EXPECT_LT(redAt(*three, 5, 25), 50);
}

TEST(ArtworkDecoder, ForgedHeadersAndPicturesOverThePixelCapAreRefused) {
    EXPECT_FALSE(ArtworkDecoder::downsample(forgedJpeg(60000), 1200));
    EXPECT_FALSE(ArtworkDecoder::downsample(forgedPng(60000), 1200));
    const auto wide = png(*solid(2000, 1000, 9, 9, 9));
    EXPECT_FALSE(ArtworkDecoder::downsample(wide, 1200, {.pixelLimit = 1'000'000}));
    EXPECT_TRUE(ArtworkDecoder::downsample(wide, 1200, {.pixelLimit = 2'000'000}));
    // A JPEG counts at its decode scale: 4000 × 4000 decodes at 1/4 for a 1000 px target.
    const auto big = jpeg(4000, 4000, 9, 9, 9);
    EXPECT_TRUE(ArtworkDecoder::downsample(big, 1000, {.pixelLimit = 1'000'000}));
    EXPECT_FALSE(ArtworkDecoder::downsample(big, 1000, {.pixelLimit = 999'999}));
}

TEST(ArtworkDecoder, OtherFormatsAlphaAndCmyk) {
    auto translucent = ArtworkDecoder::downsample(png(*solid(8, 8, 255, 0, 0, 128)), 1200);
    ASSERT_TRUE(translucent);
    EXPECT_EQ(translucent->row(0)[0], 128);  // premultiplied
    EXPECT_EQ(translucent->row(0)[3], 128);
    for (std::string bad : {std::string(), std::string("GIF89a"), std::string("\xFF\xD8\xFF", 3),
                            std::string(1000, 'x')}) {
        EXPECT_FALSE(ArtworkDecoder::downsample(bad, 1200));
    }

    // A CMYK JPEG as print software writes it (Adobe marker, inverted samples): red.
    std::vector<std::uint8_t> cmyk(16 * 16 * 4);
    for (std::size_t i = 0; i < cmyk.size(); i += 4) cmyk[i] = 255, cmyk[i + 3] = 255;
    tjhandle encoder = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(encoder, cmyk.data(), 16, 0, 16, TJPF_CMYK, &out, &size, TJSAMP_444, 95, 0), 0);
    const std::string data(reinterpret_cast<char*>(out), size);
    tjFree(out);
    tjDestroy(encoder);
    auto red = ArtworkDecoder::downsample(data, 1200);
    ASSERT_TRUE(red);
    EXPECT_GT(red->row(8)[0], 200);
    EXPECT_LT(red->row(8)[1], 40);
}

TEST(ArtworkDecoder, ShrinkingFarKeepsColoursWithinAlpha) {
    // Thousands of sources per output pixel: the weights must neither go negative nor drift.
    const int width = 15105;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * 4);
    for (int x = 0; x < width; ++x) {
        const std::uint8_t alpha = x % 3 == 0 ? 200 : 0;
        pixels[x * 4] = alpha, pixels[x * 4 + 2] = alpha, pixels[x * 4 + 3] = alpha;
    }
    auto image = ArtworkDecoder::downsample(png(*ArtworkImage::make(width, 1, pixels)), 6);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width(), 6);
    for (int x = 0; x < 6; ++x) {
        const auto* p = image->row(0) + x * 4;
        EXPECT_LE(p[2], p[3]);
        EXPECT_NEAR(p[3], 67, 1);
    }
}

// The cost is judged from the header in bytes, before anything is allocated: a progressive file
// keeps every coefficient of the full-size picture whatever the decode scale, and 16-bit samples
// cost twice as much as 8-bit ones.
TEST(ArtworkDecoder, MemoryIsJudgedFromTheHeaderInBytes) {
    struct Case {
        const char* name;
        std::string data;
        std::int64_t target;
        bool decoded;
    };
    const std::vector<Case> cases = {
        {"baseline 4000² at 1/8", jpeg(4000, 4000, 9, 9, 9), 500, true},
        {"progressive 8000² at 1/8", HostileCovers::progressiveJpeg(8000, 8000), 1000, false},
        {"progressive 1000²", HostileCovers::progressiveJpeg(1000, 1000), 500, true},
        {"8-bit PNG 2000²", HostileCovers::zeroPng(2000, 2000, 8, 6), 500, true},
        {"16-bit PNG 2000²", HostileCovers::zeroPng(2000, 2000, 16, 6), 500, false},
        {"PNG data past its header", HostileCovers::zeroPng(100, 100, 8, 6, 401 * 100 + 1), 50,
         false},
        {"PNG data short of its header", HostileCovers::zeroPng(100, 100, 8, 6, 100), 50, false},
    };
    for (const auto& c : cases) {
        ArtworkDecodeBudget budget(120 << 20);
        EXPECT_EQ(ArtworkDecoder::downsample(c.data, c.target, {.budget = &budget}) != nullptr,
                  c.decoded)
            << c.name;
        EXPECT_EQ(budget.reserved(), 0) << c.name;
    }
}

TEST(ArtworkDecodeBudget, DecodesWaitForRoomAndThoseOverTheWholeBudgetAreRefused) {
    ArtworkDecodeBudget budget(100);
    EXPECT_FALSE(budget.reserve(101));
    std::optional<ArtworkDecodeBudget::Reservation> first = budget.reserve(60);
    ASSERT_TRUE(first);
    std::optional<ArtworkDecodeBudget::Reservation> second;
    std::thread waiter([&] { second.emplace(std::move(*budget.reserve(60))); });
    while (budget.waiting() == 0) std::this_thread::yield();
    EXPECT_EQ(budget.reserved(), 60);  // the second waits while the first holds its share
    first.reset();
    waiter.join();
    EXPECT_EQ(budget.reserved(), 60);
    second.reset();
    EXPECT_EQ(budget.reserved(), 0);
}
