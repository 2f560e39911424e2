// Serves both music services with invented songs on loopback until interrupted, so that velto
// can be run without the real services. Prints the variables to start velto with.
// "--ignore-range" makes the streams answer whole files, like a server without byte ranges;
// "--song-seconds N" makes every song N seconds long instead of 30; "--fail-song-search" makes
// every song search fail (HTTP 500) while the other scopes answer.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "support/FakeMusicServices.h"

int main(int argc, char** argv) {
    std::filesystem::path resources = std::filesystem::current_path() / "fake-resources";
    bool ignoreRange = false;
    bool failSongSearch = false;
    double songSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--ignore-range") {
            ignoreRange = true;
        } else if (std::string_view(argv[i]) == "--fail-song-search") {
            failSongSearch = true;
        } else if (std::string_view(argv[i]) == "--song-seconds" && i + 1 < argc) {
            songSeconds = std::clamp(std::atof(argv[++i]), 1.0, 600.0);
        } else {
            resources = argv[i];
        }
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked before the server's threads start, so that they inherit the mask.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    velto::FakeMusicServices services(songSeconds);
    services.ignoreRange(ignoreRange);
    services.failSongSearch(failSongSearch);
    services.writeResources(std::filesystem::absolute(resources));
    std::cout << "export VELTO_NETEASE_BASE_URL=" << services.origin() << "\n"
              << "export VELTO_ROVOZ_BASE_URL=" << services.origin() << "\n"
              << "export VELTO_RESOURCE_DIR=" << std::filesystem::absolute(resources).string() << "\n"
              << std::flush;
    int received = 0;
    sigwait(&signals, &received);
    return 0;
}
