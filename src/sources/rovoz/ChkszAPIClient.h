#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "foundation/Cancellation.h"
#include "sources/rovoz/ChkszAPIRequesting.h"
#include "sources/rovoz/ChkszCircuitBreaker.h"
#include "sources/credentials/CredentialStore.h"
#include "sources/resolving/PlaybackHTTPClient.h"

namespace velto {

// The gateway to the RoVOz music API: adds the key, asks and feeds the circuit breaker,
// retries once after rate limiting, and turns statuses and the JSON envelope into SourceError.
class ChkszAPIClient : public ChkszAPIRequesting {
  public:
    static constexpr const char* credentialHint = "未配置第三方音源凭据，暂不可用";

    // `baseURL` is the service's origin (see configuredChkszBaseURL); without one every
    // request fails like a missing key. `requestTimeout` in seconds: not finite or not above
    // 0 → 8, capped at 30.
    ChkszAPIClient(std::shared_ptr<PlaybackHTTPClient> client,
                   std::shared_ptr<const CredentialStore> credentials,
                   std::shared_ptr<ChkszCircuitBreaker> breaker, std::optional<std::string> baseURL,
                   double requestTimeout = 8.0, Sleeper& sleeper = Sleeper::real());

    std::string request(const std::string& path,
                        const std::map<std::string, std::string>& parameters,
                        std::stop_token stop) override;
    std::string requestCapped(const std::string& path,
                              const std::map<std::string, std::string>& parameters,
                              std::size_t maxBodyBytes, std::stop_token stop) override;

    double requestTimeout() const { return requestTimeout_; }

    // The seconds a rate-limited answer asks to wait: its Retry-After as a decimal number,
    // else 5.
    static double retryDelay(const PlaybackHTTPResponse& response);
    // A JSON number (fraction cut toward zero, booleans 1 and 0) or a decimal integer text
    // with an optional sign; anything else, or a value beyond 64 bits, gives absent.
    static std::optional<std::int64_t> integer(const nlohmann::json* value);

  private:
    std::string perform(const std::string& path,
                        const std::map<std::string, std::string>& parameters,
                        std::optional<std::size_t> maxBodyBytes, std::stop_token stop);
    void validateHTTP(const PlaybackHTTPResponse& response, const std::string& path,
                      const std::map<std::string, std::string>& parameters) const;
    void validateEnvelope(const PlaybackHTTPResponse& response, const std::string& key) const;
    PlaybackHTTPResponse send(const PlaybackHTTPRequest& request, const std::string& key,
                              std::stop_token stop) const;

    std::shared_ptr<PlaybackHTTPClient> client_;
    std::shared_ptr<const CredentialStore> credentials_;
    std::shared_ptr<ChkszCircuitBreaker> breaker_;
    std::optional<std::string> baseURL_;
    double requestTimeout_;
    Sleeper& sleeper_;
};

}  // namespace velto
