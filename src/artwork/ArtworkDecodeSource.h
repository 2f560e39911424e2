#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stop_token>
#include <string_view>
#include <utility>

namespace velto {

// What the picture library reads a file through, in place of the file in memory: a stop ends
// what it reads (the library then finds the data at an end), and a source may make the file
// anew as it is read.
class ArtworkDecodeSource {
  public:
    virtual ~ArtworkDecodeSource() = default;
    // Fills `out` unless the data ends or the read fails; what was filled.
    virtual std::size_t read(std::uint8_t* out, std::size_t size) = 0;
    virtual bool atEnd() const = 0;
    // False when what was read is not the file's whole picture, whatever the library made of it.
    virtual bool complete() const { return true; }
};

// The file's bytes as they are.
class ArtworkBytesSource final : public ArtworkDecodeSource {
  public:
    ArtworkBytesSource(std::string_view data, std::stop_token stop)
        : data_(data), stop_(std::move(stop)) {}
    std::size_t read(std::uint8_t* out, std::size_t size) override {
        if (stop_.stop_requested()) return 0;
        const std::size_t count = std::min(size, data_.size() - at_);
        std::memcpy(out, data_.data() + at_, count);
        at_ += count;
        return count;
    }
    bool atEnd() const override { return at_ == data_.size() || stop_.stop_requested(); }

  private:
    std::string_view data_;
    std::stop_token stop_;
    std::size_t at_ = 0;
};

}  // namespace velto
