#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/AppTaskRunner.h"
#include "foundation/BootClock.h"
#include "sources/credentials/NetEaseCookieStore.h"

namespace velto {

class ArtworkHTTPClient;
class CredentialStore;
class FileChooser;
class FreedMemoryReturner;
class MainQueue;
class NetEaseKeychain;
class NotchControllerFactory;
class NowPlayingCenter;
class PlaybackHTTPClient;
class PlaybackURLResolving;
class QueuePlayer;
class RemoteCommandCenter;
class SourceRuntime;
class UserDefaults;
class WorkerPool;

// Everything the application graph takes from the process, in one value: the program builds
// the system one, tests a temporary one, and the model is built the same way from either.
struct AppEnvironment {
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using PerfMark = std::function<void(std::string_view name, std::string_view detail)>;

    MainQueue* mainQueue = nullptr;
    WorkerPool* workers = nullptr;
    // Where the models' blocking calls run; empty: on `workers`.
    AppTaskRunner::Executor executor;
    std::shared_ptr<UserDefaults> defaults;
    // The library's folder (the store file "Velto.store" goes inside) and the artwork cache.
    std::filesystem::path applicationSupportDir;
    std::filesystem::path artworkCacheDir;
    // Bundle resources (credentials, configured origins).
    std::filesystem::path resourceDir;
    // Service origins; no RoVOz origin leaves that service unconfigured.
    std::optional<std::string> rovozOrigin;
    std::string neteaseOrigin;
    // The secret-service stores behind the RoVOz key and the NetEase cookie.
    std::shared_ptr<const CredentialStore> credentialFallback;
    std::shared_ptr<NetEaseKeychain> neteaseKeychain;
    NetEaseCookieStore::Environment variables;
    // HTTP for the RoVOz API and the media probe; null: the shared session.
    std::shared_ptr<PlaybackHTTPClient> httpClient;
    // Cover downloads; null: the shared session.
    std::shared_ptr<ArtworkHTTPClient> artworkClient;
    std::shared_ptr<QueuePlayer> player;
    // Asked at each of the player's song changes; the views add their script engines to it.
    // Null: nothing is handed back.
    std::shared_ptr<FreedMemoryReturner> freedMemory;
    std::shared_ptr<NowPlayingCenter> nowPlaying;
    std::shared_ptr<RemoteCommandCenter> remoteCommands;
    std::shared_ptr<FileChooser> fileChooser;
    // Null until the notch player exists: start() then makes no controller.
    std::shared_ptr<NotchControllerFactory> notchFactory;
    Clock clock;
    // The sleep timer's clock; null: the machine's boot clock.
    BootClock::Now bootClock;
    PerfMark perfMark;
    // Stand-ins for tests: when set, the graph is still built but these serve in place of the
    // application's runtime and address resolver.
    std::shared_ptr<SourceRuntime> runtime;
    std::shared_ptr<PlaybackURLResolving> resolver;

    AppTaskRunner runner() const;

    // The process's own: XDG folders, the shared worker pool, the GStreamer player, MPRIS on
    // the session bus, the secret service, $VELTO_NETEASE_BASE_URL and $VELTO_ROVOZ_BASE_URL.
    static AppEnvironment system(MainQueue& mainQueue, std::shared_ptr<FileChooser> fileChooser,
                                 std::shared_ptr<NotchControllerFactory> notchFactory);

    // A service origin from configuration: https, or http on a loopback host (127.0.0.1, ::1,
    // localhost) for services run beside the program. Anything else gives none.
    static std::optional<std::string> serviceOrigin(std::string_view text);
    // $`variable` as a service origin; a refused value is logged and gives none.
    static std::optional<std::string> originFromVariable(const char* variable);
};

}  // namespace velto
