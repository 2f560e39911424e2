#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velto {

// Log lines carry the subsystem and a category, as the system log would.
class Log {
public:
    enum class Level { debug, info, error };
    static constexpr std::string_view subsystem = "cn.quorvanel.velto";

    using Sink = std::function<void(Level, std::string_view category, std::string_view message)>;

    static void write(Level level, std::string_view category, std::string_view message);
    static void debug(std::string_view category, std::string_view message) {
        write(Level::debug, category, message);
    }
    static void info(std::string_view category, std::string_view message) {
        write(Level::info, category, message);
    }
    static void error(std::string_view category, std::string_view message) {
        write(Level::error, category, message);
    }

    // Replaces the stderr writer (tests capture lines); an empty sink restores stderr.
    static void setSink(Sink sink);
};

}  // namespace velto
