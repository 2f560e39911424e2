#include "artwork/ArtworkDecoder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The distribution's build of stb_image, like libjpeg-turbo's: third-party decoders are not
// compiled (nor sanitised) with our code.
#include <stb/stb_image.h>
// libjpeg-turbo's libjpeg interface (not TurboJPEG's): it alone lets a progress monitor watch a
// decode between its scans and rows, and end it.
#include <jpeglib.h>

#include "artwork/ArtworkDecodeSource.h"
#include "artwork/ArtworkGIFWork.h"
#include "artwork/ArtworkPNGStrips.h"
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
    // From the frame header, when one was found before the first scan.
    bool frame = false;
    bool progressive = false;
    int precision = 8;
    std::vector<std::pair<int, int>> sampling;  // per component: horizontal, vertical
    std::size_t firstScanComponents = 0;
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
        if (marker == 0xDA) {
            if (at + 4 < size) markers.firstScanComponents = data[at + 4];
            break;
        }
        if (marker == 0xD9) break;
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
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC && bodySize >= 6 && !markers.frame) {
            const std::size_t count = body[5];
            if (count < 1 || bodySize < 6 + 3 * count) break;
            markers.frame = true;
            markers.progressive = (marker & 0x03) == 0x02;  // C2, C6, CA, CE
            markers.precision = body[0];
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t factors = body[6 + 3 * i + 1];
                markers.sampling.emplace_back(std::max(1, factors >> 4), std::max(1, factors & 15));
            }
        }
        at += 2 + length;
    }
    return markers;
}

std::int64_t roundUp(std::int64_t value, std::int64_t step) {
    return (value + step - 1) / step * step;
}

// The most a decode of the whole `width` × `height` picture into a `scaledWidth` ×
// `scaledHeight` bitmap may hold at once. A file read in several scans (progressive, or
// components in scans of their own) keeps the coefficients of the whole picture, whatever the
// scale; a single-scan one needs a few rows only. Without a readable frame header, the worst.
std::int64_t jpegCost(const JpegMarkers& markers, std::int64_t width, std::int64_t height,
                      std::int64_t scaledWidth, std::int64_t scaledHeight) {
    std::vector<std::pair<int, int>> sampling = markers.sampling;
    if (!markers.frame) sampling.assign(4, {1, 1});
    int maxH = 1, maxV = 1;
    for (auto [h, v] : sampling) maxH = std::max(maxH, h), maxV = std::max(maxV, v);
    const std::int64_t sampleBytes = markers.precision > 8 ? 2 : 1;
    const bool wholePicture =
        !markers.frame || markers.progressive || markers.firstScanComponents < sampling.size();
    std::int64_t cost = 0;
    for (auto [h, v] : sampling) {
        const std::int64_t blocksWide = roundUp((width * h + maxH - 1) / maxH, 8) / 8;
        const std::int64_t blocksHigh = roundUp((height * v + maxV - 1) / maxV, 8) / 8;
        // 64 coefficients of 16 bits a block, and a few rows of samples.
        if (wholePicture) cost += roundUp(blocksWide, h) * roundUp(blocksHigh, v) * 64 * 2;
        cost += roundUp(blocksWide, h) * 8 * maxV * 8 * 3 * sampleBytes;
    }
    // The bitmap, and beside it its turned or resized copy.
    return cost + scaledWidth * scaledHeight * 4 * 2;
}

using Held = std::optional<ArtworkDecodeBudget::Reservation>;

// Reserves `cost` in `held` (kept until the picture is finished); false when it is refused.
bool reserve(const Options& options, std::int64_t cost, Held& held) {
    if (!options.budget) return true;
    auto reservation = options.budget->reserve(cost, options.stop);
    if (!reservation) return false;
    held.emplace(std::move(*reservation));
    return true;
}

// libjpeg reports an error by calling error_exit, which must not return: it jumps back to the
// setjmp of the call into the library under way. So does the progress monitor, to stop. Only
// the library's C frames and the monitor's (nothing with a destructor) are jumped over.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

struct JpegProgress {
    jpeg_progress_mgr manager;
    const Options* options;
    int scan = 0;
    Work work;
};

struct JpegSession {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    JpegProgress progress{};
    explicit JpegSession(const Options& options) {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = [](j_common_ptr info) {
            std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
        };
        // Warnings (data cut short, an odd progression) are counted, not printed.
        errors.manager.output_message = [](j_common_ptr) {};
        progress.options = &options;
    }
    JpegSession(const JpegSession&) = delete;
    JpegSession& operator=(const JpegSession&) = delete;
    // Safe on a struct the library never set up: it frees only what it allocated.
    ~JpegSession() { jpeg_destroy_decompress(&info); }
};

// Called by the library between scans, after each row of a scan it reads, and at each call for
// output rows: charges a scan as it starts, and ends the decode when it goes past the limits or
// is stopped.
void jpegProgress(j_common_ptr common) {
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    auto* progress = reinterpret_cast<JpegProgress*>(common->progress);
    const Options& options = *progress->options;
    if (info->input_scan_number != progress->scan) {
        progress->scan = info->input_scan_number;
        ++progress->work.scans;
        for (int i = 0; i < info->comps_in_scan; ++i) {
            const jpeg_component_info* component = info->cur_comp_info[i];
            progress->work.blocks +=
                static_cast<std::int64_t>(component->width_in_blocks) * component->height_in_blocks;
        }
        if (options.onWork) options.onWork(progress->work);
        if (progress->work.scans > scanLimit || progress->work.blocks > options.workLimit)
            std::longjmp(reinterpret_cast<JpegErrors*>(common->err)->jump, 1);
    }
    if (options.stop.stop_requested())
        std::longjmp(reinterpret_cast<JpegErrors*>(common->err)->jump, 1);
}

// Reads up to the first scan; false when the library gave up.
bool readJpegHeader(JpegSession& session, const std::uint8_t* bytes, std::size_t size) {
    if (setjmp(session.errors.jump)) return false;
    jpeg_create_decompress(&session.info);
    jpeg_mem_src(&session.info, bytes, static_cast<unsigned long>(size));
    return jpeg_read_header(&session.info, TRUE) == JPEG_HEADER_OK;
}

// Decodes into `rows` (one for each output row, 4 bytes a pixel); false when the library gave
// up, the decode went past the limits or was stopped.
bool readJpegPixels(JpegSession& session, JSAMPROW* rows, JDIMENSION width, JDIMENSION height) {
    jpeg_decompress_struct& info = session.info;
    if (setjmp(session.errors.jump)) return false;
    session.progress.manager.progress_monitor = jpegProgress;
    info.progress = &session.progress.manager;
    // A progressive picture's scans are all read here, the monitor called between their rows.
    jpeg_start_decompress(&info);
    if (info.output_width != width || info.output_height != height || info.output_components != 4)
        return false;
    while (info.output_scanline < height) {
        if (jpeg_read_scanlines(&info, rows + info.output_scanline,
                                height - info.output_scanline) == 0) {
            return false;
        }
    }
    return true;
}

// The work of every scan in the file, from their headers: the entropy-coded data between them is
// skipped as the library skips it, up to the next marker that is not a restart.
Work judgeJpegScans(const std::uint8_t* data, std::size_t size,
                    const jpeg_decompress_struct& info) {
    // The largest component of that id (the library takes the next unused one of several), or
    // of all when none has it (the library refuses such a scan).
    auto blocksOf = [&](int id) {
        std::int64_t most = 0, mostOfId = -1;
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& component = info.comp_info[c];
            const std::int64_t blocks =
                static_cast<std::int64_t>(component.width_in_blocks) * component.height_in_blocks;
            most = std::max(most, blocks);
            if (component.component_id == id) mostOfId = std::max(mostOfId, blocks);
        }
        return mostOfId >= 0 ? mostOfId : most;
    };
    Work work;
    std::size_t at = 2;  // after SOI
    while (at + 1 < size) {
        if (data[at] != 0xFF) {  // stray bytes, skipped with a warning
            const void* next = std::memchr(data + at, 0xFF, size - at);
            if (!next) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - data);
            continue;
        }
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill
            ++at;
            continue;
        }
        if (marker == 0xD9) break;  // EOI
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (at + 4 > size) break;
        const std::size_t length = read16(data + at + 2, false);
        if (length < 2 || at + 2 + length > size) break;
        at += 2 + length;
        if (marker != 0xDA) continue;
        const std::uint8_t* body = data + at - length + 2;
        const std::size_t count = std::min<std::size_t>(length > 2 ? body[0] : 0, 4);
        ++work.scans;
        for (std::size_t i = 0; i < count && 1 + 2 * i < length - 2; ++i)
            work.blocks += blocksOf(body[1 + 2 * i]);
        // The scan's data, to the next marker.
        while (at + 1 < size) {
            const void* next = std::memchr(data + at, 0xFF, size - at - 1);
            if (!next) {
                at = size;
                break;
            }
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - data);
            const std::uint8_t after = data[at + 1];
            if (after != 0x00 && after != 0xFF && (after < 0xD0 || after > 0xD7)) break;
            at += after == 0xFF ? 1 : 2;
        }
    }
    return work;
}

std::optional<Decoded> decodeJpeg(std::string_view data, std::int64_t target,
                                  const Options& options, Held& held) {
    auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    JpegSession session(options);
    if (!readJpegHeader(session, bytes, data.size())) return std::nullopt;
    jpeg_decompress_struct& info = session.info;
    const std::int64_t width = info.image_width, height = info.image_height;
    // Arithmetic coding is refused: its decoder spends up to 5 µs on a block that a few bytes
    // describe (100 times a Huffman scan's worst, 25 times its cost a byte), beyond what the
    // bound on blocks can hold, and no encoder of pictures for the web writes it.
    if (width < 1 || height < 1 || info.arith_code) return std::nullopt;

    // Scales of n/8: the smallest whose longest side still reaches the target.
    auto scaled = [](std::int64_t side, int eighths) { return (side * eighths + 7) / 8; };
    int eighths = 8;
    for (int n = 1; options.scaledDecode && n < 8; ++n) {
        if (std::max(scaled(width, n), scaled(height, n)) >= target) {
            eighths = n;
            break;
        }
    }
    const std::int64_t scaledWidth = scaled(width, eighths), scaledHeight = scaled(height, eighths);
    if (scaledWidth * scaledHeight > options.pixelLimit) return std::nullopt;
    const Work work = judgeJpegScans(bytes, data.size(), info);
    if (work.scans > scanLimit || work.blocks > options.workLimit) return std::nullopt;
    const JpegMarkers markers = scanMarkers(bytes, data.size());
    if (!reserve(options, jpegCost(markers, width, height, scaledWidth, scaledHeight), held))
        return std::nullopt;

    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    info.scale_num = static_cast<unsigned int>(eighths);
    info.scale_denom = 8;
    Decoded decoded{static_cast<int>(scaledWidth), static_cast<int>(scaledHeight),
                    Bytes(static_cast<std::size_t>(scaledWidth * scaledHeight * 4))};
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(scaledHeight));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = decoded.pixels.data() + y * static_cast<std::size_t>(scaledWidth) * 4;
    if (!readJpegPixels(session, rows.data(), static_cast<JDIMENSION>(scaledWidth),
                        static_cast<JDIMENSION>(scaledHeight))) {
        return std::nullopt;
    }

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

bool isPng(std::string_view data) {
    return data.starts_with(std::string_view("\x89PNG\r\n\x1a\n", 8));
}

// PNG, GIF and BMP only: the library would also take formats without a signature (TGA), and
// so read nearly any bytes as a picture.
bool hasOtherSignature(std::string_view data) {
    return isPng(data) || data.starts_with("GIF87a") || data.starts_with("GIF89a") ||
           data.starts_with("BM");
}

// What the library reads a file through: the source, and who is told once it is read.
struct SourceReader {
    ArtworkDecodeSource& source;
    const Options& options;
    bool read = false;

    void tellIfRead() {
        if (read || !source.atEnd()) return;
        read = true;
        if (options.onRead) options.onRead();
    }
};

// The library reads a file through a reader, by these.
stbi_io_callbacks readerCallbacks() {
    stbi_io_callbacks callbacks{};
    callbacks.read = [](void* user, char* out, int size) {
        auto* reader = static_cast<SourceReader*>(user);
        if (size <= 0) return 0;
        const auto count = reader->source.read(reinterpret_cast<std::uint8_t*>(out),
                                               static_cast<std::size_t>(size));
        reader->tellIfRead();
        return static_cast<int>(count);
    };
    callbacks.skip = [](void* user, int count) {
        auto* reader = static_cast<SourceReader*>(user);
        std::uint8_t scratch[4096];
        while (count > 0) {
            const auto step = std::min(sizeof scratch, static_cast<std::size_t>(count));
            if (reader->source.read(scratch, step) < step) break;
            count -= static_cast<int>(step);
        }
        reader->tellIfRead();
    };
    callbacks.eof = [](void* user) {
        return static_cast<SourceReader*>(user)->source.atEnd() ? 1 : 0;
    };
    return callbacks;
}

// What decoding (to 8-bit RGBA, premultiplied, then resized) may hold at once: for PNG the
// inflated data beside the picture at its own sample depth and its 8-bit copies, as when the
// library took the whole picture at once (it takes a strip at a time, so less is held; the bound
// stays, so the same pictures fit); for GIF and BMP the decoder's frame, background and history
// beside our copies.
std::int64_t otherCost(std::int64_t width, std::int64_t height,
                       const std::optional<ArtworkPNGStrips::Header>& png, bool sixteenBit) {
    const std::int64_t pixels = width * height;
    if (!png) return pixels * 17;
    return png->bytes * 2 + pixels * (4 * (sixteenBit ? 2 : 1) + 12);
}

// A picture taken a row at a time and kept at the size it is kept at: its longest side at most
// `target`, resized as its rows come when it is larger.
class KeptPicture {
  public:
    KeptPicture(int width, int height, std::int64_t target, const std::stop_token& stop)
        : width_(width), kept_{width, height, {}} {
        const int longest = std::max(width, height);
        if (longest <= target) {
            kept_.pixels.reserve(static_cast<std::size_t>(width) * height * 4);
            return;
        }
        const double scale = static_cast<double>(target) / longest;
        kept_.width = std::max(1, static_cast<int>(std::lround(width * scale)));
        kept_.height = std::max(1, static_cast<int>(std::lround(height * scale)));
        resize_.emplace(width, height, kept_.width, kept_.height, stop);
    }

    int width() const { return width_; }
    std::int64_t rows() const { return rows_; }

    // The next row of `width` pixels, or its first `columns` so far: the same row, with more of
    // it, comes again until it is whole.
    void add(const std::uint8_t* row) { add(row, width_); }
    void add(const std::uint8_t* row, int columns) {
        if (resize_) {
            resize_->add(row, columns);
        } else {
            kept_.pixels.insert(kept_.pixels.end(),
                                row + static_cast<std::size_t>(columnsKept_) * 4,
                                row + static_cast<std::size_t>(columns) * 4);
        }
        columnsKept_ = columns;
        if (columns < width_) return;
        columnsKept_ = 0;
        ++rows_;
    }

    Decoded take() {
        if (resize_) kept_.pixels = resize_->take();
        return std::move(kept_);
    }

  private:
    const int width_;
    Decoded kept_;
    std::optional<ArtworkResample::AreaRows> resize_;
    std::int64_t rows_ = 0;
    int columnsKept_ = 0;
};

// `bytes` of RGBA at `from`, premultiplied, to `to` (which may be `from`).
void premultiply(const std::uint8_t* from, std::size_t bytes, std::uint8_t* to) {
    for (std::size_t i = 0; i < bytes; i += 4) {
        const int alpha = from[i + 3];
        // An opaque pixel stays as it is: most are, in most pictures.
        if (alpha == 255) {
            if (to != from) std::memcpy(to + i, from + i, 4);
            continue;
        }
        for (int c = 0; c < 3; ++c)
            to[i + c] = static_cast<std::uint8_t>((from[i + c] * alpha + 127) / 255);
        to[i + 3] = static_cast<std::uint8_t>(alpha);
    }
}

// Gives `kept` the `rows` rows of RGBA at `pixels`, premultiplied unless they are opaque (or
// premultiplied already); false on a stop, seen between the rows.
bool keepRows(const std::uint8_t* pixels, int rows, bool opaque, KeptPicture& kept,
              const Options& options) {
    const std::size_t rowBytes = static_cast<std::size_t>(kept.width()) * 4;
    Bytes premultiplied(opaque ? 0 : rowBytes);
    for (int y = 0; y < rows; ++y) {
        if (options.stop.stop_requested()) return false;
        const std::uint8_t* row = pixels + rowBytes * static_cast<std::size_t>(y);
        if (!opaque) {
            premultiply(row, rowBytes, premultiplied.data());
            row = premultiplied.data();
        }
        kept.add(row);
        if (options.onRow) options.onRow(kept.rows());
    }
    return true;
}

using LibraryPixels = std::unique_ptr<stbi_uc, void (*)(void*)>;

// The library decodes a PNG a strip at a time, a stop seen between them.
std::optional<Decoded> decodePng(const stbi_uc* bytes, std::size_t size,
                                 const ArtworkPNGStrips::Header& header, int width, int height,
                                 std::int64_t target, const Options& options) {
    auto strips = ArtworkPNGStrips::open(bytes, size, header, options);
    if (!strips || !strips->prepare()) return std::nullopt;
    KeptPicture kept(width, height, target, options.stop);
    // A row handed over in pieces, premultiplied as they come, and the columns come so far. Left
    // as allocated (zeroing a row of millions of pixels would be a wait no stop ends).
    std::unique_ptr<std::uint8_t[]> row;
    int column = 0;
    for (int y = 0; y < height;) {
        if (options.stop.stop_requested()) return std::nullopt;
        const std::string strip = strips->nextStrip();
        int stripWidth = 0, rows = 0, channels = 0;
        LibraryPixels pixels(
            stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(strip.data()),
                                  static_cast<int>(strip.size()), &stripWidth, &rows, &channels,
                                  4),
            stbi_image_free);
        if (!pixels || stripWidth < 1 || stripWidth > width - column || rows < 1 ||
            rows > height - y || (stripWidth < width && rows != 1))
            return std::nullopt;
        if (stripWidth == width) {
            // The whole strip at once, in place: a strip may hold a million rows of a pixel.
            premultiply(pixels.get(), static_cast<std::size_t>(width) * 4 * rows, pixels.get());
            if (!keepRows(pixels.get(), rows, true, kept, options)) return std::nullopt;
            y += rows;
            continue;
        }
        if (!row) row.reset(new std::uint8_t[static_cast<std::size_t>(width) * 4]);
        premultiply(pixels.get(), static_cast<std::size_t>(stripWidth) * 4,
                    row.get() + static_cast<std::size_t>(column) * 4);
        column += stripWidth;
        kept.add(row.get(), column);
        if (column < width) continue;
        if (options.onRow) options.onRow(kept.rows());
        column = 0;
        ++y;
    }
    return kept.take();
}

std::optional<Decoded> decodeOther(std::string_view data, std::int64_t target,
                                   const Options& options, Held& held) {
    if (!hasOtherSignature(data) || data.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    auto* bytes = reinterpret_cast<const stbi_uc*>(data.data());
    const int length = static_cast<int>(data.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels)) return std::nullopt;
    // A BMP stored top row first says so by a negative height, which the library reports as it
    // is (and decodes).
    if (data.starts_with("BM") && height < 0 && height > INT_MIN) height = -height;
    if (width < 1 || height < 1 || static_cast<std::int64_t>(width) * height > options.pixelLimit)
        return std::nullopt;
    std::optional<ArtworkPNGStrips::Header> png;
    if (isPng(data)) {
        png = ArtworkPNGStrips::header(bytes, data.size());
        // A strip goes to the library in one piece, whose size it keeps in an int.
        if (!png || png->bytes > INT_MAX / 2) return std::nullopt;
    }
    const bool sixteenBit = stbi_is_16_bit_from_memory(bytes, length) != 0;
    if (!reserve(options, otherCost(width, height, png, sixteenBit), held)) return std::nullopt;
    if (data.starts_with("GIF") && !ArtworkGIFWork::fits(bytes, data.size(), options))
        return std::nullopt;
    if (png) return decodePng(bytes, data.size(), *png, width, height, target, options);

    ArtworkDecodeSource source(data, options.stop);
    const stbi_io_callbacks callbacks = readerCallbacks();
    SourceReader reader{source, options};
    int decodedWidth = 0, decodedHeight = 0;
    LibraryPixels pixels(stbi_load_from_callbacks(&callbacks, &reader, &decodedWidth,
                                                  &decodedHeight, &channels, 4),
                         stbi_image_free);
    if (!pixels || decodedWidth != width || decodedHeight != height) return std::nullopt;
    KeptPicture kept(width, height, target, options.stop);
    if (!keepRows(pixels.get(), height, false, kept, options)) return std::nullopt;
    return kept.take();
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
    Held held;
    std::optional<Decoded> decoded = jpeg ? decodeJpeg(data, target, options, held)
                                          : decodeOther(data, target, options, held);
    if (!decoded || options.stop.stop_requested()) return nullptr;
    if (jpeg) {
        // Decoded at the smallest scale that reaches the target, whole: resized after.
        if (std::max(decoded->width, decoded->height) > target) {
            KeptPicture kept(decoded->width, decoded->height, target, options.stop);
            if (!keepRows(decoded->pixels.data(), decoded->height, true, kept, options))
                return nullptr;
            decoded = kept.take();
            if (options.stop.stop_requested()) return nullptr;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        *decoded = orient(std::move(*decoded), scanMarkers(bytes, data.size()).orientation);
    }
    return ArtworkImage::make(decoded->width, decoded->height, std::move(decoded->pixels));
}

}  // namespace velto::ArtworkDecoder
