#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velto {

// Log lines carry the subsystem and a category, as the system log would. Categories and
// messages are written escaped, so text from outside (a file name, a server's message) can never
// start a line of its own or send terminal controls.
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

    // `text` with control characters (C0, DEL, C1) and the Unicode line and paragraph separators
    // written as escapes: "\n", "\r", "\t", "\xNN" for other bytes, "\uNNNN" for code points.
    static std::string escaped(std::string_view text);

    // Replaces the stderr writer (tests capture lines); an empty sink restores stderr.
    static void setSink(Sink sink);
};

}  // namespace velto
