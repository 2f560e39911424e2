#include "foundation/Log.h"

#include <cstdio>
#include <mutex>

namespace velto {

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
Log::Sink& currentSink() {
    static Log::Sink sink;
    return sink;
}
const char* levelName(Log::Level level) {
    switch (level) {
        case Log::Level::debug: return "debug";
        case Log::Level::info: return "info";
        case Log::Level::error: return "error";
    }
    return "info";
}

bool needsEscape(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F || byte == 0xC2 || byte == 0xE2) return true;
    }
    return false;
}

}  // namespace

std::string Log::escaped(std::string_view text) {
    // Most lines hold nothing to escape; they go out as they are.
    if (!needsEscape(text)) return std::string(text);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F, the C1 controls (U+0085 is a line break to many readers).
            auto low = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out += hex[low >> 4];
            out += hex[low & 0x0F];
        } else if (byte == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void Log::write(Level level, std::string_view rawCategory, std::string_view rawMessage) {
    const std::string category = escaped(rawCategory);
    const std::string message = escaped(rawMessage);
    std::lock_guard lock(sinkMutex());
    if (auto& sink = currentSink()) {
        sink(level, category, message);
        return;
    }
    std::fprintf(stderr, "%.*s [%.*s] %s: %.*s\n", int(subsystem.size()), subsystem.data(),
                 int(category.size()), category.data(), levelName(level), int(message.size()),
                 message.data());
}

void Log::setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

}  // namespace velto
