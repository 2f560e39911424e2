#include "sources/netease/NetEaseWebClient.h"

#include <cmath>
#include <cstdint>

#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"
#include "foundation/text/SecretMasking.h"
#include "platform/HttpClient.h"

namespace velto {
namespace {

constexpr std::string_view logCategory = "NetEaseWebClient";
constexpr std::string_view userAgent = "neteasemusic/9.6.07 (iPhone; iOS 27.0.1; Scale/3.00)";
constexpr std::chrono::milliseconds retryPause{350};
constexpr std::size_t purgeThreshold = 65;
// Longest wait for further data, and the whole request's limit.
constexpr std::chrono::seconds idleLimit{15};
constexpr std::chrono::seconds requestLimit{30};
// Far above the largest answer (a playlist of a thousand songs); a body cut here is refused.
constexpr std::size_t bodyLimit = std::size_t{16} << 20;

}  // namespace

std::string NetEaseWebClient::percentEncoded(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                          byte == '_' || byte == '~';
        if (unreserved) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

namespace {

// The "code" of a reply when it is an integral number that fits 64 bits.
std::optional<std::int64_t> integralCode(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        auto code = value.get<std::uint64_t>();
        if (code > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<std::int64_t>(code);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        double number = value.get<double>();
        if (!std::isfinite(number) || number != std::trunc(number) || std::fabs(number) > 9.2e18) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(number);
    }
    return std::nullopt;
}

}  // namespace

NetEaseWebClient::Failure::Failure(Kind kind, std::int64_t code, std::string detail,
                                   const std::string& text)
    : std::runtime_error(text), kind_(kind), code_(code), detail_(std::move(detail)) {}

NetEaseWebClient::Failure NetEaseWebClient::Failure::http(int status) {
    return Failure(Kind::http, status, {}, "网易云接口返回 HTTP " + std::to_string(status));
}

NetEaseWebClient::Failure NetEaseWebClient::Failure::api(std::int64_t code, std::string message) {
    std::string text = "网易云接口错误 " + std::to_string(code) + "：" + message;
    return Failure(Kind::api, code, std::move(message), text);
}

NetEaseWebClient::Failure NetEaseWebClient::Failure::malformed(std::string text) {
    std::string full = "网易云接口数据异常：" + text;
    return Failure(Kind::malformed, 0, std::move(text), full);
}

NetEaseWebClient::Failure NetEaseWebClient::Failure::missingCookie() {
    return Failure(Kind::missingCookie, 0, {}, "还没有配置网易云登录 Cookie");
}

NetEaseWebClient::NetEaseWebClient(NetEaseCookieStore cookieStore, Options options)
    : session_(std::make_unique<HttpSession>()),
      cookieStore_(std::move(cookieStore)),
      baseURL_(std::move(options.baseURL)),
      clock_(std::move(options.clock)),
      sleeper_(options.sleeper ? options.sleeper : &Sleeper::real()) {}

NetEaseWebClient::~NetEaseWebClient() = default;

nlohmann::json NetEaseWebClient::get(const std::string& path, const Query& query,
                                     std::stop_token stop) {
    try {
        return performGet(path, query, stop);
    } catch (const HttpError& error) {
        // A second answer would be just as large.
        if (error.code() == HttpError::Code::responseTooLarge) throw;
        Log::info(logCategory, "GET " + path + " retrying once");
    }
    try {
        sleeper_->sleep(retryPause, stop);
    } catch (const CancellationError&) {
        // The second attempt sees the stop request and ends with the cancellation itself.
    }
    return performGet(path, query, stop);
}

HttpRequest NetEaseWebClient::request(const std::string& path, const Query& query) const {
    return request(path, query, usableCookie());
}

std::optional<std::string> NetEaseWebClient::usableCookie() const {
    auto cookie = cookieStore_.cookie();
    if (cookie && NetEaseCookieStore::isHeaderSafe(*cookie)) return cookie;
    return std::nullopt;
}

HttpRequest NetEaseWebClient::request(const std::string& path, const Query& query,
                                      const std::optional<std::string>& cookie) const {
    HttpRequest request;
    request.url = baseURL_ + path;
    for (std::size_t i = 0; i < query.size(); ++i) {
        request.url += i == 0 ? '?' : '&';
        request.url += percentEncoded(query[i].first) + "=" + percentEncoded(query[i].second);
    }
    request.timeout = idleLimit;
    request.deadline = requestLimit;
    request.maxBodyBytes = bodyLimit;
    request.headers = {
        {"User-Agent", std::string(userAgent)},
        {"Referer", baseURL_ + "/"},
        {"Accept", "application/json"},
    };
    if (cookie) {
        request.headers.emplace_back("Cookie", "MUSIC_U=" + *cookie + "; os=ios; appver=9.6.07");
    }
    return request;
}

nlohmann::json NetEaseWebClient::performGet(const std::string& path, const Query& query,
                                            const std::stop_token& stop) {
    // Read for every attempt, so a cookie saved meanwhile is used at once.
    const auto cookie = usableCookie();
    const HttpRequest request = this->request(path, query, cookie);
    // What a server echoes (an error message, a redirect address) may quote the cookie.
    auto hidden = [&cookie](std::string_view text) {
        return SecretMasking::masked(text, cookie.value_or(std::string()));
    };

    HttpResponse response;
    try {
        response = session_->perform(request, stop);
    } catch (const HttpError& error) {
        Log::info(logCategory, "GET " + path + " failed: " + hidden(error.detail()));
        if (error.code() == HttpError::Code::badURL ||
            error.code() == HttpError::Code::unsupportedURL) {
            throw Failure::malformed(path);
        }
        throw;
    }
    if (response.statusCode < 200 || response.statusCode > 299) {
        Log::error(logCategory,
                   "GET " + path + " answered HTTP " + std::to_string(response.statusCode));
        throw Failure::http(response.statusCode);
    }
    if (response.bodyTruncated) {
        Log::error(logCategory,
                   "GET " + path + " answered more than " + std::to_string(bodyLimit) + " bytes");
        throw HttpError(HttpError::Code::responseTooLarge, "answer cut at the body limit");
    }
    auto body = BoundedJson::parse(response.body);
    if (!body.is_object()) {
        Log::error(logCategory, "GET " + path + " answered no JSON object");
        throw Failure::malformed(path);
    }
    if (auto code = body.find("code"); code != body.end()) {
        if (auto value = integralCode(*code); value && *value != 200) {
            std::string message;
            if (auto it = body.find("message"); it != body.end() && it->is_string()) {
                message = it->get<std::string>();
            } else if (auto alt = body.find("msg"); alt != body.end() && alt->is_string()) {
                message = alt->get<std::string>();
            }
            Log::error(logCategory, "GET " + path + " answered code " + std::to_string(*value));
            throw Failure::api(*value, hidden(message));
        }
    }
    return body;
}

// The memo of artist and album pages.

std::chrono::steady_clock::time_point NetEaseWebClient::now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

std::optional<std::any> NetEaseWebClient::cachedValue(const std::string& key) {
    std::lock_guard lock(cacheMutex_);
    auto entry = cache_.find(key);
    if (entry == cache_.end()) return std::nullopt;
    if (entry->second.expiresAt > now()) return entry->second.value;
    cache_.erase(entry);
    return std::nullopt;
}

void NetEaseWebClient::store(std::any value, const std::string& key, std::chrono::seconds ttl) {
    std::lock_guard lock(cacheMutex_);
    auto current = now();
    cache_[key] = CacheEntry{std::move(value), current + ttl};
    if (cache_.size() < purgeThreshold) return;
    std::erase_if(cache_, [current](const auto& item) { return item.second.expiresAt <= current; });
}

std::size_t NetEaseWebClient::cachedEntryCount() {
    std::lock_guard lock(cacheMutex_);
    return cache_.size();
}

}  // namespace velto
