#include "artwork/ArtworkImage.h"

#include <stdexcept>

namespace velto {

ArtworkImage::ArtworkImage(int width, int height, std::vector<std::uint8_t> pixels)
    : width_(width), height_(height), stride_(static_cast<std::size_t>(width) * 4),
      pixels_(std::move(pixels)) {}

std::shared_ptr<const ArtworkImage> ArtworkImage::make(int width, int height,
                                                       std::vector<std::uint8_t> pixels) {
    if (width < 1 || height < 1 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
        throw std::invalid_argument("ArtworkImage: pixel count does not match the size");
    }
    return std::shared_ptr<const ArtworkImage>(new ArtworkImage(width, height, std::move(pixels)));
}

}  // namespace velto
