#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto::Base64 {

std::string encode(const std::uint8_t* data, std::size_t size);
inline std::string encode(const std::vector<std::uint8_t>& data) {
    return encode(data.data(), data.size());
}
inline std::string encode(std::string_view data) {
    return encode(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}
// Standard alphabet with padding; anything else gives none.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace velto::Base64
