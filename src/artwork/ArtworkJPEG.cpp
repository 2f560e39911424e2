#include "artwork/ArtworkJPEG.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace velto::ArtworkJPEG {

std::optional<std::string> encode(const ArtworkImage& image, double quality) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitCompress(), tjDestroy);
    if (!handle) return std::nullopt;
    const int q = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int status =
        tjCompress2(handle.get(), image.pixels().data(), image.width(),
                    static_cast<int>(image.stride()), image.height(), TJPF_RGBX, &out, &size,
                    TJSAMP_420, std::max(q, 1), TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, tjFree);
    if (status != 0 || !out) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(out), size);
}

}  // namespace velto::ArtworkJPEG
