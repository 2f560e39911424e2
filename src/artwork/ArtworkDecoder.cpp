#include "artwork/ArtworkDecoder.h"

#include <turbojpeg.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

// The distribution's build of stb_image, like libjpeg-turbo's: third-party decoders are not
// compiled (nor sanitised) with our code.
#include <stb/stb_image.h>

#include "artwork/ArtworkResample.h"

namespace velto::ArtworkDecoder {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    int width = 0;
    int height = 0;
    Bytes pixels;  // premultiplied RGBA
};

struct JpegMarkers {
    int orientation = 1;
    bool adobe = false;  // an Adobe segment: CMYK samples are stored inverted
};

std::uint16_t read16(const std::uint8_t* p, bool little) {
    return little ? static_cast<std::uint16_t>(p[0] | p[1] << 8)
                  : static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t read32(const std::uint8_t* p, bool little) {
    return little ? (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                     std::uint32_t(p[3]) << 24)
                  : (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                     std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]));
}

// The orientation tag of IFD0 in a TIFF block, 1 when absent or malformed.
int exifOrientation(const std::uint8_t* tiff, std::size_t size) {
    if (size < 8) return 1;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I') little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M') little = false;
    else return 1;
    if (read16(tiff + 2, little) != 42) return 1;
    const std::uint32_t ifd = read32(tiff + 4, little);
    if (ifd > size - 2) return 1;
    const std::size_t count = read16(tiff + ifd, little);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + i * 12;
        if (entry + 12 > size) return 1;
        if (read16(tiff + entry, little) != 0x0112) continue;
        if (read16(tiff + entry + 2, little) != 3) return 1;  // SHORT
        const int value = read16(tiff + entry + 8, little);
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

// Walks the segments before the scan data, bounded by the buffer.
JpegMarkers scanMarkers(const std::uint8_t* data, std::size_t size) {
    JpegMarkers markers;
    std::size_t at = 2;  // after SOI
    while (at + 4 <= size) {
        if (data[at] != 0xFF) break;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = read16(data + at + 2, false);
        if (length < 2 || at + 2 + length > size) break;
        const std::uint8_t* body = data + at + 4;
        const std::size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize >= 6 && std::equal(body, body + 6, "Exif\0\0")) {
            markers.orientation = exifOrientation(body + 6, bodySize - 6);
        } else if (marker == 0xEE && bodySize >= 5 && std::equal(body, body + 5, "Adobe")) {
            markers.adobe = true;
        }
        at += 2 + length;
    }
    return markers;
}

std::optional<Decoded> decodeJpeg(std::string_view data, std::int64_t target,
                                  const Options& options) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    if (!handle) return std::nullopt;
    auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const auto size = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes, size, &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width < 1 || height < 1) {
        return std::nullopt;
    }

    tjscalingfactor chosen{1, 1};
    if (options.scaledDecode) {
        int count = 0;
        const tjscalingfactor* factors = tjGetScalingFactors(&count);
        std::int64_t best = INT64_MAX;
        for (int i = 0; factors && i < count; ++i) {
            const tjscalingfactor f = factors[i];
            if (f.num > f.denom) continue;
            const std::int64_t side = std::max(TJSCALED(width, f), TJSCALED(height, f));
            if (side >= target && side < best) {
                best = side;
                chosen = f;
            }
        }
    }
    const int scaledWidth = TJSCALED(width, chosen);
    const int scaledHeight = TJSCALED(height, chosen);
    if (static_cast<std::int64_t>(scaledWidth) * scaledHeight > options.pixelLimit)
        return std::nullopt;

    const bool cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
    Decoded decoded{scaledWidth, scaledHeight,
                    Bytes(static_cast<std::size_t>(scaledWidth) * scaledHeight * 4)};
    if (tjDecompress2(handle.get(), bytes, size, decoded.pixels.data(), scaledWidth, 0,
                      scaledHeight, cmyk ? TJPF_CMYK : TJPF_RGBA, TJFLAG_LIMITSCANS) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING) {
        return std::nullopt;
    }

    const JpegMarkers markers = scanMarkers(bytes, data.size());
    if (cmyk) {
        for (std::size_t i = 0; i < decoded.pixels.size(); i += 4) {
            std::uint8_t* p = decoded.pixels.data() + i;
            int c = p[0], m = p[1], y = p[2], k = p[3];
            if (!markers.adobe) {
                c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            }
            p[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
            p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
            p[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
            p[3] = 255;
        }
    }
    return decoded;
}

// PNG, GIF and BMP only: the library would also take formats without a signature (TGA), and
// so read nearly any bytes as a picture.
bool hasOtherSignature(std::string_view data) {
    return data.starts_with(std::string_view("\x89PNG\r\n\x1a\n", 8)) ||
           data.starts_with("GIF87a") || data.starts_with("GIF89a") || data.starts_with("BM");
}

std::optional<Decoded> decodeOther(std::string_view data, const Options& options) {
    if (!hasOtherSignature(data) || data.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    auto* bytes = reinterpret_cast<const stbi_uc*>(data.data());
    const int length = static_cast<int>(data.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels) || width < 1 ||
        height < 1 || static_cast<std::int64_t>(width) * height > options.pixelLimit) {
        return std::nullopt;
    }
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(bytes, length, &width, &height, &channels, 4), stbi_image_free);
    if (!pixels || static_cast<std::int64_t>(width) * height > options.pixelLimit)
        return std::nullopt;
    Decoded decoded{width, height, Bytes(static_cast<std::size_t>(width) * height * 4)};
    const stbi_uc* src = pixels.get();
    for (std::size_t i = 0; i < decoded.pixels.size(); i += 4) {
        const int alpha = src[i + 3];
        for (int c = 0; c < 3; ++c)
            decoded.pixels[i + c] = static_cast<std::uint8_t>((src[i + c] * alpha + 127) / 255);
        decoded.pixels[i + 3] = static_cast<std::uint8_t>(alpha);
    }
    return decoded;
}

// Turns the stored picture upright as the EXIF orientation (1-8) says.
Decoded orient(Decoded in, int orientation) {
    if (orientation <= 1 || orientation > 8) return in;
    const int w = in.width, h = in.height;
    const bool swap = orientation >= 5;
    Decoded out{swap ? h : w, swap ? w : h, Bytes(in.pixels.size())};
    for (int dy = 0; dy < out.height; ++dy) {
        for (int dx = 0; dx < out.width; ++dx) {
            int sx = dx, sy = dy;
            switch (orientation) {
                case 2: sx = w - 1 - dx; break;
                case 3: sx = w - 1 - dx, sy = h - 1 - dy; break;
                case 4: sy = h - 1 - dy; break;
                case 5: sx = dy, sy = dx; break;
                case 6: sx = dy, sy = h - 1 - dx; break;
                case 7: sx = w - 1 - dy, sy = h - 1 - dx; break;
                case 8: sx = w - 1 - dy, sy = dx; break;
            }
            const std::size_t from = (static_cast<std::size_t>(sy) * w + sx) * 4;
            const std::size_t to = (static_cast<std::size_t>(dy) * out.width + dx) * 4;
            std::copy_n(in.pixels.data() + from, 4, out.pixels.data() + to);
        }
    }
    return out;
}

}  // namespace

ArtworkImagePtr downsample(std::string_view data, std::int64_t maximumPixelDimension,
                           const Options& options) {
    const std::int64_t target = std::clamp<std::int64_t>(maximumPixelDimension, 1, INT_MAX);
    const bool jpeg = data.size() >= 3 && static_cast<std::uint8_t>(data[0]) == 0xFF &&
                      static_cast<std::uint8_t>(data[1]) == 0xD8 &&
                      static_cast<std::uint8_t>(data[2]) == 0xFF;
    std::optional<Decoded> decoded = jpeg ? decodeJpeg(data, target, options)
                                          : decodeOther(data, options);
    if (!decoded) return nullptr;

    const int longest = std::max(decoded->width, decoded->height);
    if (longest > target) {
        const double scale = static_cast<double>(target) / longest;
        const int width = std::max(1, static_cast<int>(std::lround(decoded->width * scale)));
        const int height = std::max(1, static_cast<int>(std::lround(decoded->height * scale)));
        decoded->pixels = ArtworkResample::area(decoded->pixels.data(), decoded->width,
                                                decoded->height, width, height);
        decoded->width = width;
        decoded->height = height;
    }
    if (jpeg) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        *decoded = orient(std::move(*decoded), scanMarkers(bytes, data.size()).orientation);
    }
    return ArtworkImage::make(decoded->width, decoded->height, std::move(decoded->pixels));
}

}  // namespace velto::ArtworkDecoder
