#include "sources/resolving/PlaybackMediaPrefixProbe.h"

#include <algorithm>
#include <atomic>

#include "foundation/Cancellation.h"
#include "platform/HttpClient.h"
#include "sources/resolving/PlaybackRedirectPolicy.h"
#include "sources/model/SourceError.h"
#include "sources/resolving/URLSessionPlaybackHTTPClient.h"
#include "sources/model/WebAddress.h"

namespace velto {

namespace {

bool isWebScheme(const std::string& url) {
    const auto address = WebAddress::parse(url);
    return address &&
           (address->lowercasedScheme() == "http" || address->lowercasedScheme() == "https");
}

}  // namespace

PlaybackMediaPrefixProbe::PlaybackMediaPrefixProbe(int maxBytes,
                                                   std::optional<std::string> redirectOrigin)
    : maxBytes_(static_cast<std::size_t>(std::max(maxBytes, 1))),
      redirectOrigin_(std::move(redirectOrigin)) {}

HttpRequest PlaybackMediaPrefixProbe::request(const PlaybackHTTPRequest& request,
                                              double timeout) const {
    const auto limit = std::max(
        std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(URLSessionPlaybackHTTPClient::effectiveTimeout(timeout))),
        std::chrono::milliseconds{10});

    HttpRequest http;
    http.method = request.method == PlaybackHTTPRequest::Method::head ? HttpRequest::Method::head
                                                                      : HttpRequest::Method::get;
    http.url = request.url;
    http.headers = request.headers;
    http.timeout = limit;
    http.deadline = limit;
    // The transfer is aborted once the cap is in, so a server that ignores the range and
    // streams a whole file costs no more than the cap.
    http.maxBodyBytes = maxBytes_;
    http.redirects = HttpRequest::Redirects::follow;
    return http;
}

PlaybackHTTPResponse PlaybackMediaPrefixProbe::run(HttpSession& session,
                                                   const PlaybackHTTPRequest& request,
                                                   double timeout, std::stop_token stop) const {
    throwIfCancelled(stop);
    HttpRequest http = this->request(request, timeout);

    std::atomic<bool> refused{false};
    http.redirectPolicy = [this, &refused](const std::string&, const std::string& to) {
        const bool allowed = redirectOrigin_
                                 ? PlaybackRedirectPolicy::isSameHTTPSOrigin(to, *redirectOrigin_)
                                 : isWebScheme(to);
        if (!allowed) refused = true;
        return allowed;
    };

    HttpResponse response;
    try {
        response = session.perform(http, stop);
    } catch (const CancellationError&) {
        throw CancellationError();
    } catch (...) {
        if (stop.stop_requested()) throw CancellationError();
        throw SourceError::network(std::current_exception());
    }
    if (stop.stop_requested()) throw CancellationError();
    if (refused && redirectOrigin_) {
        throw SourceError::network(
            std::make_exception_ptr(SourceError::source("脚本接口跳转到了未授权的地址")));
    }
    if (refused) {
        throw SourceError::network(std::make_exception_ptr(
            HttpError(HttpError::Code::redirectRefused, "redirect to a non-HTTP location")));
    }
    if (response.statusCode <= 0) {
        throw SourceError::network(std::make_exception_ptr(
            HttpError(HttpError::Code::badServerResponse, "no HTTP response")));
    }

    PlaybackHTTPResponse result;
    result.statusCode = response.statusCode;
    result.headers = std::move(response.headers);
    // An error answer's body is never handed on.
    if (response.statusCode == 200 || response.statusCode == 206) {
        result.body = std::move(response.body);
        if (result.body.size() > maxBytes_) result.body.resize(maxBytes_);
        result.bodyTruncated = response.bodyTruncated;
    }
    return result;
}

}  // namespace velto
