// The RoVOz service's playlist answer, read for an import preview: the fuzz input is the body.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "FuzzCheck.h"
#include "foundation/Log.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "library/online/OnlinePlaylistImportService.h"
#include "library/exchange/PlaylistBackupError.h"

using namespace velto;

namespace {

class ReplayingAPI : public ChkszAPIRequesting {
  public:
    std::string body;
    std::string request(const std::string&, const std::map<std::string, std::string>&,
                        std::stop_token) override {
        return body;
    }
};

class NoShareLinks : public PlaylistShareLinkResolving {
  public:
    std::string resolve(const std::string&, std::stop_token) override { std::abort(); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Log::setSink([](Log::Level, std::string_view, std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto api = std::make_shared<ReplayingAPI>();
    api->body.assign(fuzz::text(data, size));
    OnlinePlaylistImportService service(api, std::make_shared<NoShareLinks>());
    try {
        const auto preview = service.preview("123", MusicSource::wy, {});
        FUZZ_CHECK(preview.reference.id == "123");
        FUZZ_CHECK(!preview.name.empty());
        FUZZ_CHECK(preview.missingTrackCount >= 0 && preview.invalidTrackCount >= 0 &&
                   preview.duplicateTrackCount >= 0);
        FUZZ_CHECK(preview.tracks.size() ==
                   std::size_t(preview.remoteTrackCount - preview.missingTrackCount -
                               preview.invalidTrackCount - preview.duplicateTrackCount));
        std::unordered_set<std::string> keys;
        for (const auto& track : preview.tracks) {
            FUZZ_CHECK(track.source == MusicSource::wy);
            FUZZ_CHECK(keys.insert(track.musicID()).second);
        }
        FUZZ_CHECK(preview.tracks.size() <= OnlinePlaylistImportService::maximumTrackCount);
    } catch (const OnlinePlaylistImportError&) {
    } catch (const OnlinePlaylistJSONError&) {
    } catch (const PlaylistBackupError&) {
    }
    return 0;
}
