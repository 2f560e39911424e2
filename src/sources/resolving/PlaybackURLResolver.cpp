#include "sources/resolving/PlaybackURLResolver.h"

#include <filesystem>

#include "foundation/files/AbandonableWork.h"
#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/rovoz/ChkszBaseURL.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/rovoz/ChkszNetEaseClient.h"
#include "sources/model/JsonReading.h"
#include "sources/resolving/PlaybackURLCache.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

constexpr int probeBytes = 64;
constexpr double probeTimeout = 8.0;

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::shared_ptr<ChkszNetEaseProviding> neteaseProvider(
    std::shared_ptr<ChkszNetEaseProviding> netease, std::shared_ptr<ChkszAPIRequesting> api,
    const std::shared_ptr<PlaybackHTTPClient>& client,
    std::shared_ptr<const CredentialStore> credentials,
    std::shared_ptr<ChkszCircuitBreaker> breaker) {
    if (netease) return netease;
    if (!api) {
        api = std::make_shared<ChkszAPIClient>(client, std::move(credentials), std::move(breaker),
                                               configuredChkszBaseURL(), 8.0);
    }
    return std::make_shared<ChkszNetEaseClient>(std::move(api));
}

// Everything but unreserved characters and the separators is escaped, so spaces, "#", "?"
// and non-ASCII names survive the trip through a URL.
std::string percentEncodedPath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string result;
    result.reserve(path.size());
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            result += static_cast<char>(c);
        } else {
            result += '%';
            result += hex[c >> 4];
            result += hex[c & 0x0F];
        }
    }
    return result;
}

}  // namespace

PlaybackURLResolver::PlaybackURLResolver(std::shared_ptr<PlaybackHTTPClient> client,
                                         std::shared_ptr<const CredentialStore> credentials,
                                         std::shared_ptr<ChkszCircuitBreaker> breaker,
                                         std::shared_ptr<PlaybackURLCache> cache,
                                         std::shared_ptr<ChkszAPIRequesting> chkszAPI,
                                         std::shared_ptr<ChkszNetEaseProviding> netease)
    : client_(std::move(client)),
      netease_(neteaseProvider(std::move(netease), std::move(chkszAPI), client_,
                               std::move(credentials), std::move(breaker))),
      cache_(std::move(cache)) {}

bool PlaybackURLResolver::supportsPlayback(MusicSource source) const {
    return isEnabled(source);
}

std::string PlaybackURLResolver::musicURL(const Track& track, Quality quality,
                                          std::stop_token stop) {
    throwIfCancelled(stop);
    if (track.source == MusicSource::local) return localFileURL(track, stop);
    requireEnabled(track.source);
    if (auto cached = cache_->value(PlaybackURLCache::Key(track, quality))) return *cached;
    return resolveProbeAndCache(track, quality, stop);
}

std::string PlaybackURLResolver::refreshMusicURL(const Track& track, Quality quality,
                                                 std::stop_token stop) {
    throwIfCancelled(stop);
    if (track.source == MusicSource::local) return localFileURL(track, stop);
    requireEnabled(track.source);
    cache_->removeValue(PlaybackURLCache::Key(track, quality));
    return resolveProbeAndCache(track, quality, stop);
}

std::string PlaybackURLResolver::resolveProbeAndCache(const Track& track, Quality quality,
                                                      const std::stop_token& stop) {
    throwIfCancelled(stop);
    const ChkszPlaybackResult result = netease_->musicURL(track, quality, stop);
    const auto url = mediaURL(result.url);
    if (!url) throw SourceError::source("播放解析未返回可用链接");
    validateChkszMediaURL(*url, stop);
    cache_->insert(*url, result.actualQuality, PlaybackURLCache::Key(track, quality));
    if (result.actualQuality >= quality) return *url;
    // The address stays cached under what was delivered, so the next rung is answered at once.
    throw SourceError::source("该音质不可用，实际返回 " +
                              std::string(rawValue(result.actualQuality)));
}

void PlaybackURLResolver::validateChkszMediaURL(const std::string& url,
                                                const std::stop_token& stop) {
    PlaybackHTTPRequest request;
    request.url = url;
    request.method = PlaybackHTTPRequest::Method::get;
    request.timeoutSeconds = 60.0;
    request.headers = {{"Range", "bytes=0-1"}};
    const PlaybackHTTPResponse response = client_->probe(request, probeBytes, probeTimeout, stop);
    if (response.statusCode != 200 && response.statusCode != 206) {
        throw SourceError::source("RoVOz 播放链接失效（HTTP " +
                                  std::to_string(response.statusCode) + "）");
    }
    if (response.body.empty() || !looksLikeMedia(response)) {
        throw SourceError::source("RoVOz 播放链接返回了非媒体内容");
    }
}

std::optional<std::string> PlaybackURLResolver::mediaURL(const std::string& text) {
    return chkszMediaURL(text);
}

bool PlaybackURLResolver::looksLikeMedia(const PlaybackHTTPResponse& response) {
    std::string type;
    for (const auto& [name, value] : response.headers) {
        if (lowercased(name) == "content-type") {
            type = lowercased(value);
            break;
        }
    }
    if (type.starts_with("audio/")) return true;
    if (type == "application/octet-stream") return true;
    if (type.starts_with("text/")) return false;
    for (const char* document : {"html", "json", "xml"}) {
        if (type.find(document) != std::string::npos) return false;
    }
    // Invalid UTF-8 cannot spell any of the markers below, so it needs no repair first.
    const std::string head =
        lowercased(trimmed(std::string_view(response.body).substr(0, probeBytes)));
    if (head.starts_with('<') || head.starts_with('{') || head.starts_with('[') ||
        head.starts_with("error")) {
        return false;
    }
    return true;
}

std::string PlaybackURLResolver::localFileURL(const Track& track, std::stop_token stop) {
    // No sandbox here, so a stored bookmark is never read: the path decides.
    const auto payload = track.rawPayload();
    std::string path = track.songmid;
    if (auto it = payload->find("filePath"); it != payload->end() && it->is_string()) {
        path = it->get<std::string>();
    }
    if (path.empty()) throw SourceError::source("本地音频路径为空");
    std::error_code error;
    const auto absolute = std::filesystem::absolute(std::filesystem::path(path), error);
    const auto file = error ? std::filesystem::path(path) : absolute.lexically_normal();
    auto name = file.filename();
    if (name.empty()) name = file.parent_path().filename();
    // Only a regular file plays; a path naming a device, pipe or folder counts as missing. A
    // share that does not answer within the bound of the user's file reads says nothing of
    // whether the file is there, so that is told apart: trying again later may play it.
    bool regular = false;
    try {
        regular = AbandonableWork::shared().run<bool>(
            stop,
            [file](std::stop_token) {
                std::error_code ignored;
                return std::filesystem::is_regular_file(file, ignored);
            },
            file);
    } catch (const AbandonableWork::Busy& busy) {
        Log::info("sources", std::string("local audio file not examined: ") + busy.what());
        throw SourceError::source("本地音频文件暂时无法读取，请稍后重试: " + name.string());
    }
    if (!regular) throw SourceError::source("本地音频文件不存在或已移动: " + name.string());
    return "file://" + percentEncodedPath(file.string());
}

}  // namespace velto
