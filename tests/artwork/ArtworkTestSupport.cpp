#include "ArtworkTestSupport.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace velto::artworktest {

std::string png(const ArtworkImage& image) {
    std::string out;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                                       static_cast<std::size_t>(size));
        },
        &out, image.width(), image.height(), 4, image.pixels().data(),
        static_cast<int>(image.stride()));
    return out;
}

}  // namespace velto::artworktest
