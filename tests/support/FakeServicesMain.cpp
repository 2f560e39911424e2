// Serves both music services with invented songs on loopback until interrupted, so that velto
// can be run without the real services. Prints the variables to start velto with.
#include <signal.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "support/FakeMusicServices.h"

namespace {

constexpr std::string_view usage =
    "Usage: velto_fake_services [option...] [resource folder]\n"
    "\n"
    "Serves both music services with an invented catalogue on 127.0.0.1, writes a resource\n"
    "folder with a dummy key and cookie (default ./fake-resources) and prints the variables to\n"
    "start velto with. Ctrl+C stops it.\n"
    "\n"
    "  --port N              listen on port N (default: any free port)\n"
    "  --song-seconds S      every song is S seconds long, 1 to 600 (default 30)\n"
    "  --media-delay S       answer every stream request S seconds late, 0 to 3600 (default 0)\n"
    "  --ignore-range        answer whole files to byte-range requests\n"
    "  --fail-song-search    every song search answers HTTP 500; the other scopes answer\n"
    "  -h, --help            show this and exit\n";

struct Options {
    std::filesystem::path resources = std::filesystem::current_path() / "fake-resources";
    bool resourcesGiven = false;
    int port = 0;
    double songSeconds = 30;
    double mediaDelay = 0;
    bool ignoreRange = false;
    bool failSongSearch = false;
    bool help = false;
};

struct UsageError {
    std::string message;
};

double number(std::string_view option, std::string_view text, double low, double high) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < low ||
        value > high) {
        throw UsageError{std::string(option) + " takes a number from " + std::to_string(int(low)) + " to " +
                         std::to_string(int(high)) + ", not \"" + std::string(text) + "\""};
    }
    return value;
}

Options parse(int argc, char** argv) {
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) throw UsageError{std::string(arg) + " needs a value"};
            return argv[++i];
        };
        if (optionsEnded || arg.empty() || arg.front() != '-' || arg == "-") {
            if (options.resourcesGiven) throw UsageError{"one resource folder only, not also \"" + std::string(arg) + "\""};
            options.resources = arg;
            options.resourcesGiven = true;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--ignore-range") {
            options.ignoreRange = true;
        } else if (arg == "--fail-song-search") {
            options.failSongSearch = true;
        } else if (arg == "--song-seconds") {
            options.songSeconds = number(arg, value(), 1, 600);
        } else if (arg == "--media-delay") {
            options.mediaDelay = number(arg, value(), 0, 3600);
        } else if (arg == "--port") {
            const double port = number(arg, value(), 1, 65535);
            if (port != std::floor(port)) throw UsageError{"--port takes a whole number"};
            options.port = int(port);
        } else {
            throw UsageError{"unknown option \"" + std::string(arg) + "\""};
        }
    }
    return options;
}

// For the shell that sources the printed lines, whatever the folder's name.
std::string shellQuoted(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789/._-+,:@%") == std::string::npos;
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "velto_fake_services: " << error.message << "\n"
                  << "Try \"velto_fake_services --help\".\n";
        return 2;
    }
    if (options.help) {
        std::cout << usage;
        return 0;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked before the server's threads start, so that they inherit the mask.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        velto::FakeMusicServices services(options.songSeconds, options.port);
        services.ignoreRange(options.ignoreRange);
        services.failSongSearch(options.failSongSearch);
        services.delayMedia(std::chrono::milliseconds(std::llround(options.mediaDelay * 1000)));
        const auto resources = std::filesystem::absolute(options.resources);
        services.writeResources(resources);
        std::cout << "export VELTO_NETEASE_BASE_URL=" << services.origin() << "\n"
                  << "export VELTO_ROVOZ_BASE_URL=" << services.origin() << "\n"
                  << "export VELTO_RESOURCE_DIR=" << shellQuoted(resources.string()) << "\n"
                  << std::flush;
        int received = 0;
        sigwait(&signals, &received);
    } catch (const std::exception& error) {
        std::cerr << "velto_fake_services: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
