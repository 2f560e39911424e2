#pragma once

#include <chrono>

#include "artwork/ArtworkAddressPolicy.h"
#include "artwork/ArtworkHTTPClient.h"
#include "platform/HttpClient.h"

namespace velto {

// Pictures over the project's HTTP layer: a plain GET; 2xx answers give their body, anything
// else and addresses (or redirects) the policy refuses fail with "封面请求返回异常", bodies over
// 16 MiB too; transport failures become SourceError::network. A whole download, however it
// trickles, ends by `deadline` (timed out: a network failure), so a slow server cannot hold a
// worker for good.
class URLSessionArtworkHTTPClient final : public ArtworkHTTPClient {
public:
    static constexpr std::chrono::milliseconds defaultDeadline{30'000};

    explicit URLSessionArtworkHTTPClient(HttpSession& session = HttpSession::shared(),
                                         ArtworkAddressPolicy policy = ArtworkAddressPolicy(),
                                         std::chrono::milliseconds deadline = defaultDeadline);
    std::string data(const std::string& url, std::stop_token stop) override;

private:
    HttpSession& session_;
    ArtworkAddressPolicy policy_;
    std::chrono::milliseconds deadline_;
};

}  // namespace velto
