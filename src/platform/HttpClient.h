#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velto {

struct HttpRequest {
    enum class Method { get, head };
    enum class Redirects { follow, report };

    Method method = Method::get;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    // Longest wait without progress (connecting included) before the request fails as timed out.
    // Progress is a whole head received or any body bytes: a head that trickles in line by line
    // must still be complete within this time.
    std::chrono::milliseconds timeout{60'000};
    // Hard limit on the whole request, whatever the progress.
    std::optional<std::chrono::milliseconds> deadline;
    // Read at most this many body bytes; the transfer stops there and the response is marked
    // truncated (not an error).
    std::optional<std::size_t> maxBodyBytes;
    // follow: redirects to http/https are followed (at most maxRedirects); report: the 3xx
    // answer itself is returned.
    Redirects redirects = Redirects::follow;
    int maxRedirects = 10;
    // Asked before each redirect is followed (current URL, next URL); false ends the request
    // with the 3xx answer. Only with Redirects::follow.
    std::function<bool(const std::string& from, const std::string& to)> redirectPolicy;
    // When set, the body of a 2xx answer is handed to it piece by piece as it arrives, with the
    // answer's status and headers, instead of being kept in the response: for callers that use
    // the first bytes before the last have come. `maxBodyBytes` still counts them.
    std::function<void(int status, const std::map<std::string, std::string>& headers,
                       std::string_view piece)>
        onBodyPiece;
};

struct HttpResponse {
    int statusCode = 0;
    std::string url;                             // the final address after redirects
    std::map<std::string, std::string> headers;  // names in lower case (last one wins)
    std::string body;
    bool bodyTruncated = false;
};

// A transport failure (never an HTTP status). Codes follow the classes the UI tells apart.
// what() is the Chinese text a user may read, chosen by the code; detail() is the technical text
// (host, port, curl's words) for the log only.
class HttpError : public std::runtime_error {
public:
    enum class Code {
        badURL,
        unsupportedURL,          // a scheme other than http/https
        cannotFindHost,
        cannotConnectToHost,
        notConnectedToInternet,
        timedOut,
        networkConnectionLost,
        secureConnectionFailed,
        badServerResponse,
        tooManyRedirects,
        redirectRefused,         // a redirect to a scheme other than http/https
        responseTooLarge,        // raised by callers whose answer may not be cut
        other,
    };
    HttpError(Code code, std::string detail, int curlCode = 0);
    Code code() const { return code_; }
    const std::string& detail() const { return detail_; }
    int curlCode() const { return curlCode_; }

    static const char* description(Code code);

private:
    Code code_;
    std::string detail_;
    int curlCode_;
};

// Blocking HTTP over libcurl, for worker threads. No cookie engine; TLS verification on. A
// session keeps its own connection cache; sessions share nothing.
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Throws CancellationError within about 100 ms of `stop`, HttpError for transport failures.
    // Every HTTP status, 4xx and 5xx included, is a response.
    HttpResponse perform(const HttpRequest& request, std::stop_token stop = {});

    static HttpSession& shared();

    // What every transfer of the program sets on its curl handle (`easy`): no signals, http and
    // https only, redirects included, and TLS verified.
    static void setTransportDefaults(void* easy);

private:
    struct State;
    State* state_;
};

}  // namespace velto
