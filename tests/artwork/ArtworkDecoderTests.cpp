#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ArtworkTestSupport.h"
#include "artwork/ArtworkDecoder.h"
#include "artwork/ArtworkResample.h"
#include "artwork/ArtworkService.h"
#include "foundation/ManualMainQueue.h"
#include "support/Eventually.h"
#include "support/HostileCovers.h"
#include "support/TempDir.h"

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

// A 24-bit BMP of two columns and two rows, red on top and blue below, stored top row first
// (a negative height) or, as most are, bottom row first.
std::string twoRowBmp(bool topDown) {
    auto put32 = [](std::string& out, std::int32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<char>(value >> shift));
    };
    const std::string red("\0\0\xFF\0\0\xFF\0\0", 8), blue("\xFF\0\0\xFF\0\0\0\0", 8);
    std::string out = "BM";
    put32(out, 14 + 40 + 16);
    put32(out, 0);
    put32(out, 14 + 40);
    put32(out, 40);
    put32(out, 2);
    put32(out, topDown ? -2 : 2);
    out += std::string("\x01\0\x18\0", 4);  // one plane, 24 bits
    for (int i = 0; i < 6; ++i) put32(out, 0);
    out += topDown ? red + blue : blue + red;
    return out;
}

// A reservation's holder cannot be assigned: it is filled in place.
void keep(std::optional<ArtworkDecodeBudget::Reservation>& holder,
          std::optional<ArtworkDecodeBudget::Reservation> reservation) {
    if (reservation) holder.emplace(std::move(*reservation));
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

    // A BMP stored top row first (a negative height) as well as one stored bottom row first.
    for (bool topDown : {true, false}) {
        auto bmp = ArtworkDecoder::downsample(twoRowBmp(topDown), 100);
        ASSERT_TRUE(bmp) << topDown;
        EXPECT_EQ(bmp->height(), 2);
        EXPECT_GT(redAt(*bmp, 0, 0), 200) << topDown;  // red on top either way
        EXPECT_LT(redAt(*bmp, 1, 1), 50) << topDown;
    }
}

TEST(ArtworkDecoder, ShrinkingFarKeepsColoursWithinAlpha) {
    // Thousands of sources per output pixel: the weights must neither go negative nor drift.
    // Across a row, and down a column a pixel wide (which nothing resamples across).
    const int length = 15105;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(length) * 4);
    for (int x = 0; x < length; ++x) {
        const std::uint8_t alpha = x % 3 == 0 ? 200 : 0;
        pixels[x * 4] = alpha, pixels[x * 4 + 2] = alpha, pixels[x * 4 + 3] = alpha;
    }
    for (const bool across : {true, false}) {
        const int width = across ? length : 1, height = across ? 1 : length;
        auto image = ArtworkDecoder::downsample(png(*ArtworkImage::make(width, height, pixels)), 6);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->width() * image->height(), 6);
        for (int i = 0; i < 6; ++i) {
            const auto* p = across ? image->row(0) + i * 4 : image->row(i);
            EXPECT_LE(p[2], p[3]) << across;
            EXPECT_NEAR(p[3], 67, 1) << across;
            EXPECT_EQ(p[1], 0) << across;
        }
    }
}

// The cost is judged from the header in bytes, before anything is allocated: a progressive file
// keeps every coefficient of the full-size picture whatever the decode scale, and 16-bit samples
// cost twice as much as 8-bit ones. The budget lies between the two costs of the 16-bit PNG
// (128.0 MB counted at 8 bits a sample, 144.0 MB at 16): a cost that ignored the sample depth
// would let it through.
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
        ArtworkDecodeBudget budget(136 << 20);
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
    std::atomic<bool> served{false};
    // Its own stop ends the wait when the test leaves early.
    std::jthread waiter([&](std::stop_token stop) {
        keep(second, budget.reserve(60, stop));
        served = true;
    });
    ASSERT_TRUE(eventually([&] { return budget.waiting() == 1 || served; }));
    ASSERT_FALSE(served) << "the second was served beside the first, over the capacity";
    EXPECT_EQ(budget.reserved(), 60);  // the second waits while the first holds its share
    first.reset();
    ASSERT_TRUE(eventually([&] { return served.load(); }))
        << "the second was not served once the first let go";
    waiter.join();
    ASSERT_TRUE(second);
    EXPECT_EQ(budget.reserved(), 60);
    second.reset();
    EXPECT_EQ(budget.reserved(), 0);
}

// First come, first served: a small picture that would fit waits behind a large one that does
// not yet, so a stream of small ones cannot keep the large one waiting for ever.
TEST(ArtworkDecodeBudget, WaitersAreServedInTheOrderTheyCame) {
    ArtworkDecodeBudget budget(100);
    std::optional<ArtworkDecodeBudget::Reservation> held = budget.reserve(60);
    std::optional<ArtworkDecodeBudget::Reservation> large, small;
    std::atomic<int> served{0};
    std::jthread first([&](std::stop_token stop) {
        keep(large, budget.reserve(50, stop));
        ++served;
    });
    ASSERT_TRUE(eventually([&] { return budget.waiting() == 1; }));
    std::jthread second([&](std::stop_token stop) {
        keep(small, budget.reserve(30, stop));  // 90 of 100 beside what is held
        ++served;
    });
    ASSERT_TRUE(eventually([&] { return budget.waiting() == 2 || served > 0; }));
    ASSERT_EQ(served, 0) << "the small one went ahead of the large one";
    EXPECT_EQ(budget.reserved(), 60);
    held.reset();
    ASSERT_TRUE(eventually([&] { return served == 2; }));
    first.join(), second.join();
    EXPECT_TRUE(large && small);
    EXPECT_EQ(budget.reserved(), 80);
}

// A waiter behind the first sleeps until the first leaves the queue, served or giving up: that
// departure is what tells it it is first now. Woken together, most waiters look before the one
// ahead of them has left; one not woken again then sleeps with room free. Many waiters at once,
// released together over several rounds, so that such a look is certain to happen.
TEST(ArtworkDecodeBudget, EachWaiterIsServedOnceThoseAheadOfItLeave) {
    constexpr int waiters = 8, share = 10;
    ArtworkDecodeBudget budget(waiters * share);
    for (int round = 0; round < 20; ++round) {
        // Even rounds: a hold of the whole budget is let go. Odd rounds: a first waiter too large
        // to fit beside a held share gives up, and those behind it fit.
        const bool givesUp = round % 2 == 1;
        std::optional<ArtworkDecodeBudget::Reservation> held =
            budget.reserve(givesUp ? share : waiters * share);
        std::optional<ArtworkDecodeBudget::Reservation> large;
        std::vector<std::optional<ArtworkDecodeBudget::Reservation>> served(waiters);
        std::atomic<int> count{0};
        std::vector<std::jthread> threads;
        if (givesUp) {
            threads.emplace_back(
                [&](std::stop_token stop) { keep(large, budget.reserve(waiters * share, stop)); });
            ASSERT_TRUE(eventually([&] { return budget.waiting() == 1; }));
        }
        const int ahead = givesUp ? 1 : 0, behind = givesUp ? waiters - 1 : waiters;
        for (int i = 0; i < behind; ++i) {
            threads.emplace_back([&, i](std::stop_token stop) {
                keep(served[i], budget.reserve(share, stop));
                ++count;
            });
        }
        ASSERT_TRUE(eventually([&] { return budget.waiting() == ahead + behind; }));
        if (givesUp) threads.front().request_stop();
        else held.reset();
        ASSERT_TRUE(eventually([&] { return count == behind; }))
            << "round " << round << ": " << count << " of " << behind
            << " served with room for all of them";
        threads.clear();
        EXPECT_FALSE(large);
        EXPECT_EQ(budget.waiting(), 0);
    }
    EXPECT_EQ(budget.reserved(), 0);
}

// Refinement bombs: a few dozen kilobytes whose scans send the decoder over every coefficient of
// the picture 500 times. The work is the blocks read summed over the scans,
// judged from every scan header of the file before anything is allocated or read.
TEST(ArtworkDecoder, WorkIsJudgedFromTheScanHeadersOfTheWholeFile) {
    std::vector<ArtworkDecoder::Work> seen;
    auto watch = [&](const ArtworkDecoder::Work& work) { seen.push_back(work); };

    // 1000² grey is 125 × 125 blocks; a DC scan and 9 refinements read them 10 times.
    const auto ten = HostileCovers::refinementJpeg(1000, 1000, 9);
    EXPECT_TRUE(ArtworkDecoder::downsample(ten, 500, {.workLimit = 156'250, .onWork = watch}));
    ASSERT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen.back().scans, 10);
    EXPECT_EQ(seen.back().blocks, 156'250);
    seen.clear();
    EXPECT_FALSE(ArtworkDecoder::downsample(ten, 500, {.workLimit = 156'249, .onWork = watch}));
    EXPECT_TRUE(seen.empty()) << "refused only after reading " << seen.size() << " scans";

    // The bombs, 125 M and 781 M blocks; refused before their first scan.
    for (int side : {4000, 10000}) {
        EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::refinementJpeg(side, side), 1200,
                                                {.onWork = watch}))
            << side;
    }
    EXPECT_TRUE(seen.empty());
    // However small the picture, no more scans than any encoder writes.
    EXPECT_TRUE(ArtworkDecoder::downsample(
        HostileCovers::refinementJpeg(8, 8, ArtworkDecoder::scanLimit - 1), 8));
    EXPECT_FALSE(ArtworkDecoder::downsample(
        HostileCovers::refinementJpeg(8, 8, ArtworkDecoder::scanLimit), 8, {.onWork = watch}));
    EXPECT_TRUE(seen.empty());

    // Arithmetic coding (the same scans under an SOF10 frame header), however small.
    auto arithmetic = HostileCovers::refinementJpeg(64, 64, 1);
    arithmetic[arithmetic.find("\xFF\xC2") + 1] = '\xCA';
    EXPECT_TRUE(ArtworkDecoder::downsample(HostileCovers::refinementJpeg(64, 64, 1), 64));
    EXPECT_FALSE(ArtworkDecoder::downsample(arithmetic, 64, {.onWork = watch}));
    EXPECT_TRUE(seen.empty());

    // libjpeg's own progression (10 scans, 4:2:0) at the largest size the memory budget allows
    // reads its blocks 5⅓ times: 8 M, well within the default bound.
    EXPECT_TRUE(ArtworkDecoder::downsample(HostileCovers::progressiveJpeg(8000, 8000), 1000,
                                           {.onWork = watch}));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().scans, 10);
    EXPECT_EQ(seen.back().blocks, 8'000'000);
}

TEST(ArtworkDecoder, AStopEndsAJpegDecodeBetweenItsScans) {
    const auto data = HostileCovers::refinementJpeg(1024, 1024, 60);
    ArtworkDecodeBudget budget(256 << 20);
    std::stop_source stop;
    std::vector<int> scans;
    auto image = ArtworkDecoder::downsample(data, 500,
                                            {.budget = &budget,
                                             .stop = stop.get_token(),
                                             .onWork = [&](const ArtworkDecoder::Work& work) {
                                                 scans.push_back(work.scans);
                                                 if (work.scans == 3) stop.request_stop();
                                             }});
    EXPECT_FALSE(image);
    EXPECT_EQ(scans, (std::vector<int>{1, 2, 3}));  // nothing read after the stop
    EXPECT_EQ(budget.reserved(), 0);

    // Unstopped, the same picture decodes, all 61 scans read.
    scans.clear();
    EXPECT_TRUE(ArtworkDecoder::downsample(
        data, 500,
        {.budget = &budget, .onWork = [&](const auto& work) { scans.push_back(work.scans); }}));
    EXPECT_EQ(scans.size(), 61u);
    // A stop asked before the call: nothing read. A baseline picture stops too (its one scan).
    EXPECT_FALSE(ArtworkDecoder::downsample(
        data, 500,
        {.budget = &budget, .stop = stop.get_token(), .onWork = [&](const auto&) { FAIL(); }}));
    std::stop_source late;
    EXPECT_FALSE(ArtworkDecoder::downsample(jpeg(1000, 1000, 9, 9, 9), 500,
                                            {.budget = &budget,
                                             .stop = late.get_token(),
                                             .onWork = [&](const auto&) { late.request_stop(); }}));
}

// A GIF decoder walks each LZW code's whole string, past the end of the frame too, so a few
// bytes can stand for millions of symbols. What the first frame's codes stand for is counted
// before decoding: at most twice the frame's pixels and an allowance, an encoder's codes standing
// for its pixels alone.
TEST(ArtworkDecoder, GifWorkIsCountedFromItsCodesBeforeDecoding) {
    using HostileCovers::gif, HostileCovers::rootCodes;
    std::vector<ArtworkDecoder::Work> seen;
    auto watch = [&](const ArtworkDecoder::Work& work) { seen.push_back(work); };
    auto last = [&] { return seen.empty() ? ArtworkDecoder::Work{} : seen.back(); };

    // Red over blue, three pixels a row.
    std::vector<int> codes = rootCodes(4, 1), blue = rootCodes(4, 3);
    codes.insert(codes.end(), blue.begin(), blue.end());
    auto picture = ArtworkDecoder::downsample(gif(3, 2, codes), 100);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), 3);
    EXPECT_GT(redAt(*picture, 2, 0), 200);
    EXPECT_LT(redAt(*picture, 0, 1), 50);
    EXPECT_GT(picture->row(1)[2], 200);

    // Codes of a symbol each, a clear code counted as one: up to the limit, and one past it.
    for (auto [width, height] : {std::pair{1, 1}, std::pair{400, 300}}) {
        const std::int64_t limit = ArtworkDecoder::gifSymbolLimit(std::int64_t{width} * height);
        seen.clear();
        EXPECT_TRUE(ArtworkDecoder::downsample(gif(width, height, rootCodes(limit, 2)), 100,
                                               {.onWork = watch}))
            << width;
        EXPECT_GT(last().symbols, limit - 1000) << width;
        EXPECT_FALSE(ArtworkDecoder::downsample(gif(width, height, rootCodes(limit + 1, 2)), 100))
            << width;
    }

    // One pixel and 25 M symbols: refused, counted no further than the limit.
    seen.clear();
    EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::chainGif(12'000), 100,
                                            {.onWork = watch}));
    EXPECT_FALSE(seen.empty());
    EXPECT_LE(last().symbols, ArtworkDecoder::gifSymbolLimit(1));

    // A stop ends the count (and so the decode) at the next block of data.
    std::stop_source stop;
    int blocks = 0;
    EXPECT_FALSE(ArtworkDecoder::downsample(gif(1, 1, rootCodes(60'000, 2)), 100,
                                            {.stop = stop.get_token(), .onWork = [&](const auto&) {
                                                 if (++blocks == 3) stop.request_stop();
                                             }}));
    EXPECT_EQ(blocks, 3);
}

// zlib writing literals only at its smallest memory level begins a block with tables every 127
// bytes: a valid picture of 41 MB of image data takes more of them than the floor of their
// bound, and is decoded all the same, every pixel where it belongs.
TEST(ArtworkDecoder, PngOfZlibsSmallestBlocksIsDecodedAtAnySize) {
    HostileCovers::PngPicture picture;
    picture.width = picture.height = 3200;
    const auto side = static_cast<std::size_t>(picture.width);
    picture.samples.resize(side * side * 4);
    std::uint32_t seed = 5;
    for (std::size_t pixel = 0; pixel < side * side; ++pixel) {
        seed = seed * 1103515245 + 12345;
        const std::size_t x = pixel % side, y = pixel / side;
        for (std::size_t c = 0; c < 3; ++c)
            picture.samples[pixel * 4 + c] =
                static_cast<std::uint16_t>((x + 2 * y + 40 * c + (seed >> 30)) % 256);
        picture.samples[pixel * 4 + 3] = 255;
    }
    const std::string data =
        HostileCovers::png(picture, {.memoryLevel = 1, .strategy = Z_HUFFMAN_ONLY});
    ArtworkDecoder::Work lastSeen;
    auto image = ArtworkDecoder::downsample(data, 3200, {.onWork = [&](const auto& work) {
                                                             lastSeen = work;
                                                         }});
    EXPECT_GT(lastSeen.tableBlocks, ArtworkDecoder::pngTableBlockLimit);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width(), 3200);
    for (int y : {0, 1, 1777, 3199})
        for (int x : {0, 5, 2048, 3199})
            EXPECT_EQ(redAt(*image, x, y), picture.samples[(std::size_t(y) * side + std::size_t(x)) * 4]);
}

// A deflate block costs its inflater the building of its code tables however little it holds.
// A PNG's blocks are counted as its image data is inflated, and those past what the header's
// size allows refused there, those with tables past their own bound too; a stop ends the
// inflating between blocks.
TEST(ArtworkDecoder, PngBlocksAreCountedAsTheyAreInflated) {
    std::vector<ArtworkDecoder::Work> seen;
    auto watch = [&](const ArtworkDecoder::Work& work) { seen.push_back(work); };
    auto last = [&] { return seen.empty() ? ArtworkDecoder::Work{} : seen.back(); };
    const std::int64_t limit = ArtworkDecoder::pngBlockLimit(64, 1 + 64 * 4);
    // The data's one block behind the empty ones: the limit in all, then one more.
    EXPECT_TRUE(ArtworkDecoder::downsample(HostileCovers::zeroPng(64, 64, 8, 6, -1, limit - 1), 64,
                                           {.onWork = watch}));
    EXPECT_EQ(last().deflateBlocks, limit);
    EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::zeroPng(64, 64, 8, 6, -1, limit), 64));
    // Refused at the first block past the limit, not after inflating them all.
    seen.clear();
    EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::zeroPng(64, 64, 8, 6, -1, 100 * limit),
                                            64, {.onWork = watch}));
    EXPECT_EQ(last().deflateBlocks, limit + 1);

    // Blocks with tables of their own are bounded apart, so that rows a byte wide cannot make a
    // cover all of them: refused as the first past the bound begins, before its tables.
    const std::int64_t tables = ArtworkDecoder::pngTableBlockLimit;
    const int rows = static_cast<int>(tables / ArtworkDecoder::pngRowBlocks(2) + 1);
    ArtworkDecoder::Work lastSeen;
    auto keep = [&](const ArtworkDecoder::Work& work) { lastSeen = work; };
    EXPECT_TRUE(ArtworkDecoder::downsample(HostileCovers::zeroPng(1, rows, 8, 0, -1, tables), 1,
                                           {.onWork = keep}));
    EXPECT_EQ(lastSeen.tableBlocks, tables);
    EXPECT_EQ(lastSeen.deflateBlocks, tables + 1);
    EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::zeroPng(1, rows, 8, 0, -1, tables + 1),
                                            1, {.onWork = keep}));
    EXPECT_EQ(lastSeen.tableBlocks, tables);
    EXPECT_EQ(lastSeen.deflateBlocks, tables);

    // What follows the last block (the stream's check value) begins no block: in this one it
    // reads as the header of a block with tables.
    EXPECT_TRUE(ArtworkDecoder::downsample(HostileCovers::zeroPng(31, 31, 16, 6, -1, 1), 31,
                                           {.onWork = keep}));
    EXPECT_EQ(lastSeen.tableBlocks, 1);
    EXPECT_EQ(lastSeen.deflateBlocks, 2);

    // Blocks that make next to nothing are bounded apart too, whatever their kind: rows two
    // bytes wide allow four blocks each, and empty fixed-code ones are 10 bits.
    const std::int64_t shortMost = ArtworkDecoder::pngShortBlockLimit;
    const int tall = static_cast<int>(shortMost / ArtworkDecoder::pngRowBlocks(2) + 1);
    EXPECT_TRUE(ArtworkDecoder::downsample(HostileCovers::zeroPng(1, tall, 8, 0, -1, 0, shortMost - 1),
                                           1, {.onWork = keep}));
    EXPECT_EQ(lastSeen.shortBlocks, shortMost - 1);
    EXPECT_EQ(lastSeen.deflateBlocks, shortMost);
    EXPECT_FALSE(ArtworkDecoder::downsample(
        HostileCovers::zeroPng(1, tall, 8, 0, -1, 2, shortMost), 1, {.onWork = keep}));
    EXPECT_EQ(lastSeen.shortBlocks, shortMost + 1);
    EXPECT_EQ(lastSeen.deflateBlocks, shortMost + 1);

    std::stop_source stop;
    int blocks = 0;
    EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::zeroPng(64, 64, 8, 6, -1, 50), 64,
                                            {.stop = stop.get_token(), .onWork = [&](const auto&) {
                                                 if (++blocks == 3) stop.request_stop();
                                             }}));
    EXPECT_EQ(blocks, 3);
}

// The picture library decodes what it is handed in one call that nothing ends. A GIF it reads
// whole, then decodes alone: a stop asked then is seen before the first row is taken from it. A
// PNG it is handed in strips of rows (here 218 and 82), a stop seen between them. The rows are
// then premultiplied and resized one at a time (a JPEG's too, decoded at 3/8, 113 rows), a stop
// seen at the next.
TEST(ArtworkDecoder, AStopIsSeenAtTheNextRowAfterTheLibrarysDecode) {
    std::vector<std::uint16_t> samples(300 * 300 * 4);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = i % 4 == 3 ? 128 : i % 251;
    const int codes = 90'000 + 90'000 / 3999 + 1;  // a clear code every 4000
    const std::tuple<std::string, std::int64_t, std::vector<std::int64_t>> cases[] = {
        {HostileCovers::gif(300, 300, HostileCovers::rootCodes(codes, 1)), 300, {0, 1, 150, 300}},
        {HostileCovers::png({300, 300, 6, 8, false, {}, {}, samples}), 300, {1, 150, 218, 219, 300}},
        {jpeg(300, 300, 10, 200, 30), 113, {1, 57, 113}}};
    for (const auto& [file, height, stops] : cases) {
        std::int64_t rows = 0;
        int strips = 0;
        auto countStrips = [&](const ArtworkDecoder::Work& work) { strips = work.strips; };
        const auto whole = ArtworkDecoder::downsample(
            file, 100, {.onWork = countStrips, .onRow = [&](std::int64_t taken) { rows = taken; }});
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->height(), 100);
        EXPECT_EQ(rows, height);
        const bool png = file.starts_with("\x89PNG");
        EXPECT_EQ(strips, png ? 2 : 0);

        for (std::int64_t stopAt : stops) {
            std::stop_source stop;
            rows = 0, strips = 0;
            auto stopAfter = [&](std::int64_t taken) {
                rows = taken;
                if (taken == stopAt) stop.request_stop();
            };
            auto stopOnRead = [&] {
                if (stopAt == 0) stop.request_stop();
            };
            EXPECT_FALSE(ArtworkDecoder::downsample(file, 100,
                                                    {.stop = stop.get_token(),
                                                     .onWork = countStrips,
                                                     .onRead = stopOnRead,
                                                     .onRow = stopAfter}))
                << stopAt;
            EXPECT_EQ(rows, stopAt) << "rows taken after the stop";
            if (png) {
                EXPECT_EQ(strips, stopAt <= 218 ? 1 : 2) << stopAt;
            }
        }
    }
}

// The CgBI variant of a PNG: a chunk of its own first, the image data deflated without zlib's
// header and check value.
std::string cgbi(const std::string& png) {
    std::string out = png.substr(0, 8) + std::string("\0\0\0\4CgBI\0\0\0\0\0\0\0\0", 16);
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = std::size_t(std::uint8_t(png[at])) << 24 |
                                   std::size_t(std::uint8_t(png[at + 1])) << 16 |
                                   std::size_t(std::uint8_t(png[at + 2])) << 8 |
                                   std::uint8_t(png[at + 3]);
        std::string chunk = png.substr(at, 12 + length);
        if (png.compare(at + 4, 4, "IDAT") == 0) {
            const std::size_t raw = length - 6;
            chunk = std::string{char(raw >> 24), char(raw >> 16), char(raw >> 8), char(raw)} +
                    "IDAT" + png.substr(at + 10, raw) + std::string(4, '\0');
        }
        out += chunk;
        at += 12 + length;
    }
    return out;
}

// What the picture library makes of a whole file in one call, premultiplied; empty when it
// refuses it.
std::vector<std::uint8_t> libraryPicture(const std::string& file) {
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(file.data()),
                              static_cast<int>(file.size()), &width, &height, &channels, 4),
        stbi_image_free);
    if (!pixels) return {};
    std::vector<std::uint8_t> out(pixels.get(), pixels.get() + std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < out.size(); i += 4)
        for (std::size_t c = 0; c < 3; ++c) out[i + c] = (out[i + c] * out[i + 3] + 127) / 255;
    return out;
}

// A picture of random samples in a PNG of that colour type and depth, with a palette and some
// transparency where the type takes them.
HostileCovers::PngPicture randomPngPicture(int type, int depth, bool interlaced, int width,
                                           int height, std::uint32_t& seed) {
    auto next = [&](std::uint32_t below) {
        seed = seed * 1103515245 + 12345;
        return static_cast<std::uint16_t>((seed >> 8) % below);
    };
    HostileCovers::PngPicture picture{width, height, type, depth, interlaced};
    const int channels = type == 6 ? 4 : type == 2 ? 3 : type == 4 ? 2 : 1;
    const std::uint32_t values = 1u << std::min(depth, type == 3 ? 8 : 16);
    for (int i = 0; i < width * height * channels; ++i) picture.samples.push_back(next(values));
    if (type == 3) {
        for (std::uint32_t i = 0; i < values * 3; ++i)
            picture.palette.push_back(static_cast<char>(next(256)));
        for (std::uint32_t i = 0; i < values / 2 + 1; ++i)
            picture.transparency.push_back(static_cast<char>(next(256)));
    } else if (type == 0 || type == 2) {  // the first pixel's colour is transparent
        for (int c = 0; c < channels; ++c)
            picture.transparency += {static_cast<char>(picture.samples[c] >> 8),
                                     static_cast<char>(picture.samples[c] & 0xFF)};
    }
    return picture;
}

// The picture library is handed a PNG a strip of rows at a time (a row wider than a strip in
// pieces), rows whose filters were undone and whose interlaced passes were put in place
// beforehand: the picture is still the one it makes of the whole file, in every colour type and
// depth, interlaced or not, over several strips, and in the CgBI variant. So for every zlib
// setting: at its smallest memory levels zlib ends a block every 127 or 255 symbols, and a writer
// that flushes after each row, or twice in a row, ends one there and adds an empty one; pictures of
// noise, all literals, take the most blocks.
TEST(ArtworkDecoder, PngsDecodedInStripsAreTheLibrarysPictureOfTheWholeFile) {
    const std::pair<int, int> kinds[] = {{0, 1}, {0, 2},  {0, 4},  {0, 8}, {0, 16},
                                         {2, 8}, {2, 16}, {3, 1},  {3, 2}, {3, 4},
                                         {3, 8}, {4, 8},  {4, 16}, {6, 8}, {6, 16}};
    std::uint32_t seed = 11;
    for (auto [type, depth] : kinds) {
        for (bool interlaced : {false, true}) {
            // Rows wider than a strip, in pieces: 70001 pixels of any kind, and of 1 bit, more
            // than 8 × 256 K.
            const auto wide = depth == 1 ? std::pair{2'100'003, 1} : std::pair{70'001, 2};
            for (auto [width, height] : {std::pair{1, 1}, {5, 3}, {37, 29}, {300, 301}, wide}) {
                const std::string kind = std::to_string(type) + "/" + std::to_string(depth) +
                                         (interlaced ? " interlaced " : " ") +
                                         std::to_string(width) + "x" + std::to_string(height);
                const auto picture = randomPngPicture(type, depth, interlaced, width, height, seed);
                const std::string file = HostileCovers::png(picture);
                const std::vector<std::uint8_t> expected = libraryPicture(file);
                ASSERT_FALSE(expected.empty()) << kind;
                std::vector<std::string> files{file};
                if (type == 6 && depth == 8) files.push_back(cgbi(file));
                if (depth == 8 && width == 300)
                    for (const HostileCovers::PngDeflation deflation :
                         {HostileCovers::PngDeflation{1, Z_NO_FLUSH},
                          {2, Z_NO_FLUSH},
                          {8, Z_SYNC_FLUSH},
                          {8, Z_FULL_FLUSH},
                          {1, Z_SYNC_FLUSH},
                          {1, Z_FULL_FLUSH},
                          {1, Z_SYNC_FLUSH, 2},
                          {1, Z_FULL_FLUSH, 2}})
                        files.push_back(HostileCovers::png(picture, deflation));
                for (const std::string& each : files) {
                    const auto image = ArtworkDecoder::downsample(each, std::max(width, height));
                    ASSERT_TRUE(image) << kind;
                    ASSERT_EQ(image->width(), width);
                    ASSERT_EQ(image->height(), height);
                    int differing = 0;
                    for (int y = 0; y < height; ++y) {
                        const std::uint8_t* row = expected.data() + std::size_t(y) * width * 4;
                        differing += !std::equal(row, row + width * 4, image->row(y));
                    }
                    EXPECT_EQ(differing, 0) << kind << " file " << (&each - files.data());
                    if (width != wide.first) continue;
                    // Shrunk a piece at a time: the whole picture shrunk.
                    const auto shrunk = ArtworkDecoder::downsample(each, 1000);
                    ASSERT_TRUE(shrunk) << kind;
                    const auto whole = ArtworkResample::area(expected.data(), width, height,
                                                             shrunk->width(), shrunk->height());
                    const std::size_t shrunkRow = std::size_t(shrunk->width()) * 4;
                    for (int y = 0; y < shrunk->height(); ++y) {
                        const std::uint8_t* row = whole.data() + y * shrunkRow;
                        EXPECT_TRUE(std::equal(row, row + shrunkRow, shrunk->row(y))) << kind;
                    }
                }
            }
        }
    }
    // Colour types at depths PNG does not have, some of which the library takes (RGB, grey with
    // alpha and RGBA under 8 bits, pixels of 3 or 6 bits among them), are refused.
    for (auto [type, depth] : {std::pair{2, 1},
                               {2, 2},
                               {2, 4},
                               {4, 1},
                               {4, 2},
                               {4, 4},
                               {6, 1},
                               {6, 2},
                               {6, 4},
                               {3, 16}}) {
        for (bool interlaced : {false, true}) {
            const auto picture = randomPngPicture(type, depth, interlaced, 37, 29, seed);
            EXPECT_FALSE(ArtworkDecoder::downsample(HostileCovers::png(picture), 37))
                << type << "/" << depth << (interlaced ? " interlaced" : "");
        }
    }
}

// A cancelled request's decode leaves the budget's queue at once instead of decoding once served.
TEST(ArtworkDecoder, AStopReleasesADecodeWaitingForTheBudget) {
    ArtworkDecodeBudget budget(64 << 20);
    std::optional<ArtworkDecodeBudget::Reservation> hold = budget.reserve(64 << 20);
    const auto data = jpeg(800, 800, 9, 9, 9);
    std::stop_source stop;
    std::atomic<bool> done{false};
    std::atomic<int> scans{0};
    ArtworkImagePtr image;
    std::jthread decode([&] {
        image = ArtworkDecoder::downsample(
            data, 400,
            {.budget = &budget, .stop = stop.get_token(), .onWork = [&](const auto&) { ++scans; }});
        done = true;
    });
    ASSERT_TRUE(eventually([&] { return budget.waiting() == 1; }));
    stop.request_stop();
    if (!eventually([&] { return done.load(); })) {
        hold.reset();
        FAIL() << "the stop did not release the decode";
    }
    decode.join();
    EXPECT_FALSE(image);
    EXPECT_EQ(scans, 0) << "decoded after its stop";
    EXPECT_EQ(budget.waiting(), 0);
    hold.reset();
    EXPECT_EQ(budget.reserved(), 0);
    // A stop asked before the call refuses even when there is room.
    EXPECT_FALSE(budget.reserve(10, stop.get_token()));
    EXPECT_TRUE(budget.reserve(10));
}

// A stopped decode says nothing about the bytes: a cache file whose decode a cancel ended (here
// while it waited for the budget) stays, to be read next time.
TEST(ArtworkDecoder, ACancelledDecodeOfACacheFileKeepsTheFile) {
    TempDir dir;
    ManualMainQueue queue;
    WorkerPool pool(2);  // one artwork slot, its jobs in order
    auto client = std::make_shared<ScriptedClient>();
    ArtworkService service(std::make_shared<ScriptedRuntime>(), client, dir.path(), 1000,
                           {1 << 30, 1 << 30, 1200}, ArtworkService::Environment{pool, queue});
    const auto now = ArtworkDate(std::chrono::seconds(1'700'000'000));
    const Track cached = song("cached"), other = song("other");
    bool stored = false;
    service.persist(solid(64, 64, 200, 0, 0), cached.musicID(), now,
                    ArtworkService::Existing::replace, [&](bool done) { stored = done; });
    ASSERT_TRUE(queue.runUntil([&] { return stored; }));

    std::optional<ArtworkDecodeBudget::Reservation> hold =
        ArtworkDecodeBudget::shared().reserve(ArtworkDecodeBudget::sharedCapacity);
    ArtworkRequest request = service.image(cached, now, [](TaskResult<ArtworkImagePtr>) {});
    ASSERT_TRUE(eventually([] { return ArtworkDecodeBudget::shared().waiting() == 1; }));
    request.cancel();
    ASSERT_TRUE(eventually([] { return ArtworkDecodeBudget::shared().waiting() == 0; }))
        << "the cancel did not release the decode";
    hold.reset();
    // Once the next job in the slot is answered, the cancelled one is over; then a job on the
    // disk queue runs after any deletion it asked for.
    client->answer("https://covers.test/other", jpeg(64, 64, 0, 0, 200));
    bool answered = false, flushed = false;
    service.image(other, now, [&](TaskResult<ArtworkImagePtr>) { answered = true; });
    ASSERT_TRUE(queue.runUntil([&] { return answered; }));
    service.persist(solid(8, 8, 1, 1, 1), "flush", now, ArtworkService::Existing::keep,
                    [&](bool) { flushed = true; });
    ASSERT_TRUE(queue.runUntil([&] { return flushed; }));
    EXPECT_TRUE(std::filesystem::exists(service.cacheURL(cached.musicID())));
    EXPECT_EQ(client->count("https://covers.test/cached"), 0);
}
