#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stop_token>
#include <string_view>
#include <utility>

namespace velto {

// What the picture library reads a GIF or BMP through, in place of the file in memory: a stop
// ends what it reads, and the library then finds the data at an end.
class ArtworkDecodeSource final {
  public:
    ArtworkDecodeSource(std::string_view data, std::stop_token stop)
        : data_(data), stop_(std::move(stop)) {}
    // Fills `out` unless the data ends or a stop came; what was filled.
    std::size_t read(std::uint8_t* out, std::size_t size) {
        if (stop_.stop_requested()) return 0;
        const std::size_t count = std::min(size, data_.size() - at_);
        std::memcpy(out, data_.data() + at_, count);
        at_ += count;
        return count;
    }
    bool atEnd() const { return at_ == data_.size() || stop_.stop_requested(); }

  private:
    std::string_view data_;
    std::stop_token stop_;
    std::size_t at_ = 0;
};

}  // namespace velto
