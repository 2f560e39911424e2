// Stream and cover addresses as the services send them, the redirect policy of the stream probe
// and its judgement of whether an answer is audio. The input is a probe answer: the status line
// carries the requested address, a Location header the redirect target.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "FuzzReply.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/netease/NetEaseWebClient.h"
#include "sources/resolving/PlaybackRedirectPolicy.h"
#include "sources/resolving/PlaybackURLResolver.h"
#include "sources/model/WebAddress.h"

using namespace velto;

namespace {

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void checkAddress(const std::string& text) {
    auto parsed = WebAddress::parse(text);
    if (parsed) FUZZ_CHECK(parsed->text == text);

    auto rovoz = chkszMediaURL(text);
    FUZZ_CHECK(PlaybackURLResolver::mediaURL(text) == rovoz);
    if (rovoz) {
        FUZZ_CHECK(parsed && !parsed->host.empty() && !parsed->hasUserInfo);
        FUZZ_CHECK(rovoz->starts_with("https:"));
        FUZZ_CHECK(chkszMediaURL(*rovoz) == rovoz);
        // The NetEase rule is the same but for user information, which it lets through.
        FUZZ_CHECK(NetEaseWebClient::mediaURL(text) == rovoz);
        auto port = WebAddress::parse(*rovoz)->port;
        if (port.size() <= 5) FUZZ_CHECK(PlaybackRedirectPolicy::isSameHTTPSOrigin(*rovoz, *rovoz));
    }
    if (auto netease = NetEaseWebClient::mediaURL(text)) {
        FUZZ_CHECK(netease->starts_with("https:"));
        FUZZ_CHECK(NetEaseWebClient::mediaURL(*netease) == netease);
    }
}

void checkRedirect(const std::optional<std::string>& candidate, const std::string& origin) {
    bool same = PlaybackRedirectPolicy::isSameHTTPSOrigin(candidate, origin);
    if (!same) return;
    auto next = WebAddress::parse(*candidate);
    auto start = WebAddress::parse(origin);
    FUZZ_CHECK(next && start && !next->hasUserInfo);
    FUZZ_CHECK(next->lowercasedScheme() == "https" && start->lowercasedScheme() == "https");
    FUZZ_CHECK(lowercased(next->host) == lowercased(start->host));
    // Sameness does not depend on which side is the origin.
    if (!start->hasUserInfo)
        FUZZ_CHECK(PlaybackRedirectPolicy::isSameHTTPSOrigin(origin, *candidate));
}

void checkMedia(const fuzz::Reply& reply) {
    PlaybackHTTPResponse response;
    response.statusCode = reply.status;
    response.headers = reply.headers;
    response.body = reply.body.substr(0, 64);
    bool media = PlaybackURLResolver::looksLikeMedia(response);
    auto type = reply.headers.find("content-type");
    if (type == reply.headers.end()) return;
    auto lower = lowercased(type->second);
    if (lower.starts_with("audio/")) FUZZ_CHECK(media);
    if (lower.starts_with("text/") ||
        (!lower.starts_with("audio/") && lower.find("html") != std::string::npos))
        FUZZ_CHECK(!media);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto input = fuzz::text(data, size);
    auto reply = fuzz::parseReply(input);
    std::optional<std::string> location;
    if (auto it = reply.headers.find("location"); it != reply.headers.end()) location = it->second;

    checkAddress(std::string(input));
    checkAddress(reply.word);
    if (location) checkAddress(*location);
    checkRedirect(location, reply.word);
    checkRedirect(reply.word, location.value_or(reply.body));
    checkMedia(reply);
    return 0;
}
