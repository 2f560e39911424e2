#include "app/AppEnvironment.h"

#include <cstdlib>

#include "app/NotchControllerFactory.h"
#include "foundation/Log.h"
#include "foundation/files/Paths.h"
#include "foundation/files/UserDefaults.h"
#include "foundation/FreedMemoryReturner.h"
#include "foundation/WorkerPool.h"
#include "playback/PerfLog.h"
#include "platform/gstreamer/GStreamerQueuePlayer.h"
#include "platform/MprisNowPlayingCenter.h"
#include "sources/credentials/BuildCredentialStore.h"
#include "sources/credentials/KeychainCredentialStore.h"
#include "sources/credentials/LibsecretNetEaseKeychain.h"
#include "sources/model/LoopbackAddresses.h"
#include "sources/model/WebAddress.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/rovoz/ChkszBaseURL.h"

namespace velto {

AppTaskRunner AppEnvironment::runner() const {
    if (executor) return AppTaskRunner(*mainQueue, executor);
    return AppTaskRunner(*mainQueue, *workers);
}

std::optional<std::string> AppEnvironment::serviceOrigin(std::string_view text) {
    auto origin = chkszOrigin(text);
    if (!origin) return std::nullopt;
    if (origin->starts_with("https://")) return origin;
    const auto address = WebAddress::parse(*origin);
    if (address && LoopbackAddresses::isLoopbackHost(address->host)) return origin;
    return std::nullopt;
}

std::optional<std::string> AppEnvironment::originFromVariable(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return std::nullopt;
    if (auto origin = serviceOrigin(value)) return origin;
    Log::error("app", std::string(variable) +
                          " is neither an https origin nor an http one on a loopback host; ignored");
    return std::nullopt;
}

AppEnvironment AppEnvironment::system(MainQueue& mainQueue, std::shared_ptr<FileChooser> fileChooser,
                                      std::shared_ptr<NotchControllerFactory> notchFactory) {
    AppEnvironment environment;
    environment.mainQueue = &mainQueue;
    environment.workers = &WorkerPool::shared();
    environment.defaults =
        std::make_shared<UserDefaults>(Paths::defaultsFile(), UserDefaults::Writer{}, &mainQueue);
    environment.applicationSupportDir = Paths::applicationSupportDir();
    environment.artworkCacheDir = Paths::cachesDir() / "Artwork";
    environment.resourceDir = Paths::resourceDir();
    environment.rovozOrigin = originFromVariable("VELTO_ROVOZ_BASE_URL");
    if (!environment.rovozOrigin) {
        // The resource file's address; the variable was judged above.
        const auto configured = BuildCredentialStore::readValue(
            environment.resourceDir / BuildCredentialStore::resourceName, "chkszBaseURL");
        if (configured) environment.rovozOrigin = chkszHTTPSOrigin(*configured);
    }
    environment.neteaseOrigin = originFromVariable("VELTO_NETEASE_BASE_URL")
                                    .value_or(std::string(NetEaseWebClient::defaultBaseURL));
    environment.credentialFallback = std::make_shared<KeychainCredentialStore>();
    environment.neteaseKeychain = std::make_shared<LibsecretNetEaseKeychain>(
        std::string(NetEaseCookieStore::keychainService),
        std::string(NetEaseCookieStore::keychainAccount));
    environment.variables = NetEaseCookieStore::processEnvironment();
    auto player = std::make_shared<GStreamerQueuePlayer>(mainQueue);
    auto returner = std::make_shared<FreedMemoryReturner>(
        [](std::function<void()> job) { WorkerPool::shared().submit(std::move(job)); }, mainQueue);
    // For as long as the player lives: it owns the observer, and the observer the returner.
    player->addCurrentItemObserver([returner](const PlayerItemPtr&) { returner->request(); });
    if (notchFactory)
        returner->addCollector([factory = std::weak_ptr(notchFactory)] {
            if (auto notch = factory.lock()) notch->collectGarbage();
        });
    environment.player = std::move(player);
    environment.freedMemory = std::move(returner);
    auto mpris = std::make_shared<MprisNowPlayingCenter>(mainQueue);
    environment.nowPlaying = mpris;
    environment.remoteCommands = mpris;
    environment.fileChooser = std::move(fileChooser);
    environment.notchFactory = std::move(notchFactory);
    environment.clock = [] { return std::chrono::system_clock::now(); };
    environment.perfMark = [](std::string_view name, std::string_view detail) {
        PerfLog::mark(name, detail);
    };
    return environment;
}

}  // namespace velto
