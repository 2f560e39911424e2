#include "sources/resolving/URLSessionPlaybackHTTPClient.h"

#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/Cancellation.h"
#include "sources/resolving/PlaybackMediaPrefixProbe.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

SourceError networkFailure(HttpError::Code code, const char* message) {
    return SourceError::network(std::make_exception_ptr(HttpError(code, message)));
}

}  // namespace

URLSessionPlaybackHTTPClient::URLSessionPlaybackHTTPClient(HttpSession& session)
    : session_(session) {}

double URLSessionPlaybackHTTPClient::effectiveTimeout(double requested) {
    if (!std::isfinite(requested)) return 8.0;
    if (requested <= 0.01) return 0.01;
    if (requested > 30.0) return 30.0;
    return requested;
}

PlaybackHTTPResponse URLSessionPlaybackHTTPClient::send(const PlaybackHTTPRequest& request,
                                                        std::stop_token stop) {
    throwIfCancelled(stop);

    const double seconds = effectiveTimeout(request.timeoutSeconds);
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(seconds));

    HttpRequest http;
    http.method = request.method == PlaybackHTTPRequest::Method::head ? HttpRequest::Method::head
                                                                      : HttpRequest::Method::get;
    http.url = request.url;
    http.headers = request.headers;
    http.timeout = std::max(limit, std::chrono::milliseconds{10});
    http.deadline = http.timeout;
    http.maxBodyBytes = request.maxBodyBytes;

    // The transfer stops on whichever comes first: the caller's stop or the watchdog's deadline.
    std::stop_source transfer;
    std::atomic<bool> timedOut{false};
    std::stop_callback forwardStop(stop, [&transfer] { transfer.request_stop(); });
    std::jthread watchdog([&transfer, &timedOut, seconds](std::stop_token finished) {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        const bool done = wake.wait_for(lock, finished, std::chrono::duration<double>(seconds),
                                        [] { return false; });
        if (!done && !finished.stop_requested()) {
            timedOut = true;
            transfer.request_stop();
        }
    });

    HttpResponse response;
    try {
        response = session_.perform(http, transfer.get_token());
    } catch (const SourceError&) {
        throw;
    } catch (...) {
        if (stop.stop_requested()) throw CancellationError();
        if (timedOut) throw networkFailure(HttpError::Code::timedOut, "request timed out");
        throw SourceError::network(std::current_exception());
    }
    watchdog.request_stop();
    if (stop.stop_requested()) throw CancellationError();
    if (response.statusCode <= 0) {
        throw networkFailure(HttpError::Code::badServerResponse, "no HTTP response");
    }

    PlaybackHTTPResponse result;
    result.statusCode = response.statusCode;
    for (auto& [name, value] : response.headers) result.headers[lowercased(name)] = value;
    result.body = std::move(response.body);
    result.bodyTruncated = response.bodyTruncated;
    return result;
}

PlaybackHTTPResponse URLSessionPlaybackHTTPClient::probe(const PlaybackHTTPRequest& request,
                                                         int maxBytes, double timeout,
                                                         std::stop_token stop) {
    return PlaybackMediaPrefixProbe(maxBytes, std::nullopt).run(session_, request, timeout, stop);
}

PlaybackHTTPResponse URLSessionPlaybackHTTPClient::probeSameOrigin(
    const PlaybackHTTPRequest& request, int maxBytes, double timeout, std::stop_token stop) {
    if (request.url.empty()) throw SourceError::source("脚本请求地址无效");
    return PlaybackMediaPrefixProbe(maxBytes, request.url).run(session_, request, timeout, stop);
}

}  // namespace velto
