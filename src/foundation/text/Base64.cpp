#include "foundation/text/Base64.h"

namespace velto::Base64 {

namespace {
constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

std::string encode(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        std::uint32_t n = std::uint32_t(data[i]) << 16;
        if (i + 1 < size) n |= std::uint32_t(data[i + 1]) << 8;
        if (i + 2 < size) n |= data[i + 2];
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < size ? alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < size ? alphabet[n & 63] : '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=') {
                // Padding only at the very end, in the last two places.
                if (i + 4 != text.size() || k < 2) return std::nullopt;
                v[k] = 0;
                ++padding;
            } else {
                if (padding) return std::nullopt;
                v[k] = valueOf(c);
                if (v[k] < 0) return std::nullopt;
            }
        }
        std::uint32_t n = (std::uint32_t(v[0]) << 18) | (std::uint32_t(v[1]) << 12) |
                          (std::uint32_t(v[2]) << 6) | std::uint32_t(v[3]);
        out.push_back(std::uint8_t(n >> 16));
        if (padding < 2) out.push_back(std::uint8_t(n >> 8));
        if (padding < 1) out.push_back(std::uint8_t(n));
    }
    return out;
}

}  // namespace velto::Base64
