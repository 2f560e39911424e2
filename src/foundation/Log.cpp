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
}  // namespace

void Log::write(Level level, std::string_view category, std::string_view message) {
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
