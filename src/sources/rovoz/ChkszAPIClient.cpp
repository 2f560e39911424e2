#include "sources/rovoz/ChkszAPIClient.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"
#include "foundation/text/SecretMasking.h"
#include "platform/HttpClient.h"
#include "sources/rovoz/ChkszBaseURL.h"
#include "sources/model/JsonReading.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

constexpr const char* logCategory = "rovoz";
constexpr double longestRetryWait = 10.0;
constexpr double envelopeRateLimitPause = 5.0;

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string percentEncoded(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            result += c;
        } else {
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 0x0F];
        }
    }
    return result;
}

bool isPathText(std::string_view path) {
    if (!path.starts_with('/')) return false;
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '?' || c == '#' || c == '%') return false;
    }
    return true;
}

// Decimal notation only: optional sign, digits with an optional fraction, optional exponent.
std::optional<double> decimalNumber(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    std::size_t i = 0;
    std::size_t mantissaDigits = 0;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i])))
        ++i, ++mantissaDigits;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
            ++i, ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return std::nullopt;
    bool exponentPositive = true;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-'))
            exponentPositive = body[i++] == '+';
        const std::size_t exponentStart = i;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) ++i;
        if (i == exponentStart) return std::nullopt;
    }
    if (i != body.size()) return std::nullopt;

    double value = 0;
    const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (error == std::errc::result_out_of_range) {
        value = exponentPositive ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc() || end != body.data() + body.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::string failureLabel(const std::string& path,
                         const std::map<std::string, std::string>& parameters) {
    const bool music = path.ends_with("music");
    if (music && parameters.contains("msg") && !parameters.contains("id") &&
        !parameters.contains("mid") && !parameters.contains("n")) {
        return "搜索";
    }
    if (music) return "播放解析";
    if (path.ends_with("lyric")) return "歌词请求";
    if (path.ends_with("playlist")) return "歌单读取";
    return "搜索";
}

}  // namespace

ChkszAPIClient::ChkszAPIClient(std::shared_ptr<PlaybackHTTPClient> client,
                               std::shared_ptr<const CredentialStore> credentials,
                               std::shared_ptr<ChkszCircuitBreaker> breaker,
                               std::optional<std::string> baseURL, double requestTimeout,
                               Sleeper& sleeper)
    : client_(std::move(client)),
      credentials_(std::move(credentials)),
      breaker_(std::move(breaker)),
      baseURL_(std::move(baseURL)),
      requestTimeout_(std::isfinite(requestTimeout) && requestTimeout > 0
                          ? std::min(requestTimeout, 30.0)
                          : 8.0),
      sleeper_(sleeper) {}

std::string ChkszAPIClient::request(const std::string& path,
                                    const std::map<std::string, std::string>& parameters,
                                    std::stop_token stop) {
    return perform(path, parameters, std::nullopt, std::move(stop));
}

std::string ChkszAPIClient::requestCapped(const std::string& path,
                                          const std::map<std::string, std::string>& parameters,
                                          std::size_t maxBodyBytes, std::stop_token stop) {
    return perform(path, parameters, maxBodyBytes, std::move(stop));
}

std::string ChkszAPIClient::perform(const std::string& path,
                                    const std::map<std::string, std::string>& parameters,
                                    std::optional<std::size_t> maxBodyBytes, std::stop_token stop) {
    const auto stored = credentials_->chkszKey();
    const std::string key = stored ? trimmed(*stored) : std::string();
    if (key.empty() || !baseURL_) throw SourceError::credentialRequired(credentialHint);

    if (auto message = breaker_->blockedMessage()) throw SourceError::source(*message);

    auto items = parameters;
    items["apikey"] = key;
    const auto origin = baseURL_ ? chkszOrigin(*baseURL_) : std::nullopt;
    if (!origin || !isPathText(path)) throw SourceError::source("RoVOz 请求地址异常");
    PlaybackHTTPRequest request;
    request.url = *origin + path;
    char separator = '?';
    for (const auto& [name, value] : items) {
        request.url += separator + percentEncoded(name) + "=" + percentEncoded(value);
        separator = '&';
    }
    request.timeoutSeconds = requestTimeout_;
    if (maxBodyBytes) request.maxBodyBytes = maxBodyBytes;

    PlaybackHTTPResponse response = send(request, key, stop);
    if (response.statusCode == 429) {
        const double delay = retryDelay(response);
        if (delay <= longestRetryWait) {
            Log::info(logCategory, "GET " + path + " rate limited; one retry after " +
                                       shortestNumberText(delay) + " s");
            const auto wait = std::chrono::duration<double>(std::max(delay, 0.0));
            sleeper_.sleep(std::chrono::duration_cast<std::chrono::nanoseconds>(wait), stop);
            response = send(request, key, stop);
        }
    }
    validateHTTP(response, path, parameters);
    if (maxBodyBytes && response.bodyTruncated) return std::move(response.body);
    validateEnvelope(response, key);
    return std::move(response.body);
}

PlaybackHTTPResponse ChkszAPIClient::send(const PlaybackHTTPRequest& request,
                                          const std::string& key, std::stop_token stop) const {
    try {
        return client_->send(request, stop);
    } catch (const SourceError& error) {
        // A transport's technical text may quote the address, and with it the key.
        if (error.kind() != SourceError::Kind::network || !error.underlying()) throw;
        try {
            std::rethrow_exception(error.underlying());
        } catch (const HttpError& underlying) {
            const std::string detail = SecretMasking::masked(underlying.detail(), key);
            Log::info(logCategory, "request failed: " + detail);
            if (detail == underlying.detail()) throw error;
            throw SourceError::network(std::make_exception_ptr(
                HttpError(underlying.code(), detail, underlying.curlCode())));
        } catch (const std::exception& underlying) {
            const std::string message = SecretMasking::masked(underlying.what(), key);
            if (message == underlying.what()) throw error;
            throw SourceError::network(
                std::make_exception_ptr(HttpError(HttpError::Code::other, message)));
        } catch (...) {
            throw error;
        }
    }
}

double ChkszAPIClient::retryDelay(const PlaybackHTTPResponse& response) {
    std::string text = "5";
    for (const auto& [name, value] : response.headers) {
        if (lowercased(name) == "retry-after") {
            text = value;
            break;
        }
    }
    return decimalNumber(text).value_or(5.0);
}

std::optional<std::int64_t> ChkszAPIClient::integer(const nlohmann::json* value) {
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
    return readInteger(*value);
}

void ChkszAPIClient::validateHTTP(const PlaybackHTTPResponse& response, const std::string& path,
                                  const std::map<std::string, std::string>& parameters) const {
    const int status = response.statusCode;
    const std::string code = std::to_string(status);
    switch (status) {
        case 200:
            return;
        case 401:
        case 403:
            Log::error(logCategory, "GET " + path + " refused the key (HTTP " + code + ")");
            breaker_->disable("HTTP " + code);
            throw SourceError::source("RoVOz 凭证无效或已过期（HTTP " + code + "）");
        case 402:
            Log::error(logCategory, "GET " + path + " quota exhausted (HTTP 402)");
            breaker_->disable("HTTP 402");
            throw SourceError::source("RoVOz 额度已耗尽（HTTP 402）");
        case 429:
            Log::info(logCategory, "GET " + path + " rate limited (HTTP 429)");
            breaker_->deferAfterRateLimit(retryDelay(response));
            throw SourceError::source("RoVOz 请求过于频繁（HTTP 429）");
        default:
            Log::info(logCategory, "GET " + path + " failed with HTTP " + code);
            throw SourceError::source("第三方" + failureLabel(path, parameters) + "失败（HTTP " +
                                      code + "）");
    }
}

void ChkszAPIClient::validateEnvelope(const PlaybackHTTPResponse& response,
                                      const std::string& key) const {
    if (response.bodyTruncated) throw SourceError::source("RoVOz 返回 JSON 异常");
    const auto document = BoundedJson::parse(response.body);
    if (!document.is_object()) throw SourceError::source("RoVOz 返回 JSON 异常");
    const auto found = document.find("code");
    const auto code = integer(found == document.end() ? nullptr : &*found);
    if (!code || *code == 200) return;

    const std::string number = std::to_string(*code);
    switch (*code) {
        case 401:
        case 403:
            breaker_->disable("API " + number);
            throw SourceError::source("RoVOz 凭证无效或已过期（API " + number + "）");
        case 402:
            breaker_->disable("API 402");
            throw SourceError::source("RoVOz 额度已耗尽（API 402）");
        case 429:
            breaker_->deferAfterRateLimit(envelopeRateLimitPause);
            throw SourceError::source("RoVOz 请求过于频繁（API 429）");
        default:
            break;
    }
    std::string message;
    if (const auto msg = document.find("msg"); msg != document.end() && msg->is_string()) {
        message = trimmed(msg->get_ref<const std::string&>());
    }
    if (message.empty()) message = "返回异常（API " + number + "）";
    message = SecretMasking::masked(message, key);
    // The service's name is checked, so a message that already names it is never prefixed.
    if (lowercased(message).find("rovoz") == std::string::npos) message = "RoVOz: " + message;
    throw SourceError::source(message);
}

}  // namespace velto
