#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace velto {

// A decoded picture: premultiplied 8-bit RGBA, rows of `stride` bytes. Shared and never changed
// once made, so two holders of one pointer hold "the same image".
class ArtworkImage {
public:
    // `pixels` holds width × height × 4 bytes, rows packed (stride = width × 4).
    static std::shared_ptr<const ArtworkImage> make(int width, int height,
                                                    std::vector<std::uint8_t> pixels);

    int width() const { return width_; }
    int height() const { return height_; }
    std::size_t stride() const { return stride_; }
    const std::vector<std::uint8_t>& pixels() const { return pixels_; }
    const std::uint8_t* row(int y) const { return pixels_.data() + stride_ * static_cast<std::size_t>(y); }
    // Bytes the decoded bitmap occupies (stride × height): what the memory budget counts.
    std::int64_t cost() const { return static_cast<std::int64_t>(stride_) * height_; }

private:
    ArtworkImage(int width, int height, std::vector<std::uint8_t> pixels);
    int width_;
    int height_;
    std::size_t stride_;
    std::vector<std::uint8_t> pixels_;
};

using ArtworkImagePtr = std::shared_ptr<const ArtworkImage>;

}  // namespace velto
