#include "foundation/text/JsonWriter.h"

#include <cmath>
#include <stdexcept>

namespace velto {

bool isValidUTF8(std::string_view text) {
    std::size_t i = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    while (i < text.size()) {
        unsigned char c = s[i];
        std::size_t length;
        std::uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((length == 2 && code < 0x80) || (length == 3 && code < 0x800) ||
            (length == 4 && code < 0x10000) || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

namespace {

void writeString(const std::string& text, std::string& out) {
    if (!isValidUTF8(text)) throw std::invalid_argument("JSON text is not valid UTF-8");
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '/': out += "\\/"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    static const char hex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else {
                    out += char(c);
                }
        }
    }
    out += '"';
}

void write(const nlohmann::json& value, std::string& out) {
    switch (value.type()) {
        case nlohmann::json::value_t::object: {
            // nlohmann's object is a std::map: keys iterate in byte order.
            out += '{';
            bool first = true;
            for (auto it = value.begin(); it != value.end(); ++it) {
                if (!first) out += ',';
                first = false;
                writeString(it.key(), out);
                out += ':';
                write(it.value(), out);
            }
            out += '}';
            break;
        }
        case nlohmann::json::value_t::array: {
            out += '[';
            bool first = true;
            for (const auto& element : value) {
                if (!first) out += ',';
                first = false;
                write(element, out);
            }
            out += ']';
            break;
        }
        case nlohmann::json::value_t::string: writeString(value.get_ref<const std::string&>(), out); break;
        case nlohmann::json::value_t::number_float:
            if (!std::isfinite(value.get<double>()))
                throw std::invalid_argument("JSON cannot hold NaN or infinity");
            out += value.dump();
            break;
        case nlohmann::json::value_t::binary:
            throw std::invalid_argument("JSON cannot hold binary values");
        case nlohmann::json::value_t::discarded:
            throw std::invalid_argument("JSON value is discarded");
        default: out += value.dump(); break;
    }
}

}  // namespace

std::string writeSortedJSON(const nlohmann::json& value) {
    std::string out;
    write(value, out);
    return out;
}

}  // namespace velto
