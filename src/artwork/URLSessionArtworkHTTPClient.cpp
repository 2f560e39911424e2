#include "artwork/URLSessionArtworkHTTPClient.h"

#include <algorithm>

#include "artwork/ArtworkDiskCache.h"
#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "sources/model/SourceError.h"

namespace velto {
namespace {

SourceError badAnswer() { return SourceError::source("封面请求返回异常"); }

}  // namespace

URLSessionArtworkHTTPClient::URLSessionArtworkHTTPClient(HttpSession& session,
                                                         ArtworkAddressPolicy policy,
                                                         std::chrono::milliseconds deadline)
    : session_(session), policy_(policy), deadline_(deadline) {}

std::string URLSessionArtworkHTTPClient::data(const std::string& url, std::stop_token stop) {
    throwIfCancelled(stop);
    if (!policy_.allows(url)) {
        Log::info("artwork", "picture address refused: " + url);
        throw badAnswer();
    }
    HttpRequest request;
    request.url = url;
    request.maxBodyBytes = ArtworkDiskCache::maximumFileBytes;
    request.deadline = deadline_;
    request.timeout = std::min(request.timeout, deadline_);
    request.redirectPolicy = [this](const std::string&, const std::string& to) {
        return policy_.allows(to);
    };

    HttpResponse response;
    try {
        response = session_.perform(request, stop);
    } catch (const CancellationError&) {
        throw;
    } catch (const SourceError&) {
        throw;
    } catch (...) {
        if (stop.stop_requested()) throw CancellationError();
        throw SourceError::network(std::current_exception());
    }
    if (response.statusCode < 200 || response.statusCode > 299) {
        Log::info("artwork", "picture answer " + std::to_string(response.statusCode) + ": " + url);
        throw badAnswer();
    }
    if (response.bodyTruncated) {
        Log::info("artwork", "picture larger than 16 MiB: " + url);
        throw badAnswer();
    }
    return std::move(response.body);
}

}  // namespace velto
