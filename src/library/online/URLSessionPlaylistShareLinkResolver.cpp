#include "library/online/URLSessionPlaylistShareLinkResolver.h"

#include <curl/curl.h>

#include <memory>
#include <optional>

#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "library/online/OnlinePlaylistHosts.h"
#include "library/online/OnlinePlaylistImportError.h"
#include "sources/model/SourceError.h"
#include "sources/model/WebAddress.h"

namespace velto {

namespace {

struct CurlURLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// A Location (absolute or relative) resolved against the address that sent it; none when it
// does not resolve.
std::optional<std::string> resolveLocation(const std::string& base, const std::string& location) {
    std::unique_ptr<CURLU, CurlURLDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK) {
        return std::nullopt;
    }
    char* text = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK || !text) return std::nullopt;
    std::string result(text);
    curl_free(text);
    return result;
}

bool isFollowedStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string lowercased(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Decides every redirect of one resolution; counts refused ones too.
class PlaylistShareRedirectGuard {
public:
    // The address to go on to, or none to stop at the redirect answer itself.
    std::optional<std::string> redirect(const std::optional<std::string>& proposed) {
        ++hops_;
        if (hops_ > URLSessionPlaylistShareLinkResolver::maximumRedirects || !proposed)
            return std::nullopt;
        auto address = WebAddress::parse(*proposed);
        if (!address || address->host.empty() ||
            !OnlinePlaylistHosts::source(lowercased(address->host)) || address->hasUserInfo ||
            !address->port.empty()) {
            return std::nullopt;
        }
        const std::string scheme = address->lowercasedScheme();
        if (scheme != "http" && scheme != "https") return std::nullopt;
        return address->withScheme("https");
    }

private:
    int hops_ = 0;
};

}  // namespace

URLSessionPlaylistShareLinkResolver::URLSessionPlaylistShareLinkResolver(Transport transport,
                                                                         Clock clock)
    : transport_(std::move(transport)), clock_(std::move(clock)) {}

std::string URLSessionPlaylistShareLinkResolver::resolve(const std::string& link, std::stop_token stop) {
    std::unique_ptr<HttpSession> session;
    Transport transport = transport_;
    if (!transport) {
        session = std::make_unique<HttpSession>();
        transport = [&session](const HttpRequest& request, std::stop_token token) {
            return session->perform(request, std::move(token));
        };
    }
    const Clock now = clock_ ? clock_ : Clock(&std::chrono::steady_clock::now);
    const auto end = now() + deadline;
    PlaylistShareRedirectGuard guard;
    std::string url = link;
    try {
        throwIfCancelled(stop);
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now());
            if (left <= std::chrono::milliseconds::zero()) {
                throw HttpError(HttpError::Code::timedOut, "share link resolution deadline exceeded");
            }
            HttpRequest request;
            request.method = HttpRequest::Method::head;
            request.url = url;
            request.timeout = timeout;
            request.deadline = left;
            request.redirects = HttpRequest::Redirects::report;
            const HttpResponse response = transport(request, stop);
            if (isFollowedStatus(response.statusCode)) {
                if (auto location = response.headers.find("location"); location != response.headers.end()) {
                    if (auto next = guard.redirect(resolveLocation(url, location->second))) {
                        url = std::move(*next);
                        continue;
                    }
                    Log::info("playlist-import", "share link redirect refused at " + url);
                }
            }
            throwIfCancelled(stop);
            if (response.statusCode < 200 || response.statusCode > 399)
                throw OnlinePlaylistImportError(OnlinePlaylistImportError::Kind::unavailable);
            return url;
        }
    } catch (const CancellationError&) {
        throw CancellationError();
    } catch (const HttpError&) {
        if (stop.stop_requested()) throw CancellationError();
        throw SourceError::network(std::current_exception());
    }
}

}  // namespace velto
