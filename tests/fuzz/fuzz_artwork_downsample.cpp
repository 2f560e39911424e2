// Picture bytes from servers, tags and side files, decoded into bounded thumbnails; then the
// accent colour drawn from whatever came out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "artwork/ArtworkDecoder.h"
#include "artwork/ArtworkPalette.h"

using namespace velto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the target side, small ones included.
    const std::int64_t target = 1 + data[0] * 5;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    // Low caps keep each run quick; the caps themselves are what is checked. A header claiming a
    // picture over the memory budget must be refused before the decoder allocates for it, which
    // the sanitiser's allocation limit would catch.
    static ArtworkDecodeBudget budget(64 << 20);
    // A JPEG's work is judged from all its scan headers before it is decoded, so the decoder
    // never counts more than the limit: a scan it finds that the judgement missed would be a
    // finding here (the decode would only be stopped there). A GIF's count of symbols stops at
    // its frame's limit, and no frame has more pixels than the picture may.
    constexpr std::int64_t workLimit = 2'000'000, pixelLimit = 1'000'000;
    auto image = ArtworkDecoder::downsample(
        bytes, target,
        {.pixelLimit = pixelLimit,
         .budget = &budget,
         .workLimit = workLimit,
         .onWork = [](const ArtworkDecoder::Work& work) {
             FUZZ_CHECK(work.blocks <= workLimit && work.scans <= ArtworkDecoder::scanLimit);
             FUZZ_CHECK(work.symbols <= ArtworkDecoder::gifSymbolLimit(pixelLimit));
         }});
    FUZZ_CHECK(budget.reserved() == 0);
    if (!image) return 0;
    FUZZ_CHECK(image->width() >= 1 && image->height() >= 1);
    FUZZ_CHECK(std::max(image->width(), image->height()) <= target);
    FUZZ_CHECK(image->pixels().size() == image->stride() * static_cast<std::size_t>(image->height()));
    for (std::size_t i = 0; i < image->pixels().size(); i += 4) {
        const auto* p = image->pixels().data() + i;
        FUZZ_CHECK(p[0] <= p[3] + 1 && p[1] <= p[3] + 1 && p[2] <= p[3] + 1);  // premultiplied
    }
    if (auto accent = ArtworkPalette::accentHexFrom(*image)) FUZZ_CHECK(accent->size() == 7);
    return 0;
}
