#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>

#include "foundation/Cancellation.h"

namespace velto {

HttpError::HttpError(Code code, std::string detail, int curlCode)
    : std::runtime_error(description(code)),
      code_(code),
      detail_(std::move(detail)),
      curlCode_(curlCode) {}

const char* HttpError::description(Code code) {
    switch (code) {
        case Code::cannotFindHost: return "无法找到服务器";
        case Code::cannotConnectToHost:
        case Code::notConnectedToInternet: return "无法连接服务器";
        case Code::timedOut: return "请求超时";
        case Code::secureConnectionFailed: return "安全连接失败";
        case Code::tooManyRedirects: return "重定向次数过多";
        case Code::responseTooLarge: return "返回数据过大";
        default: return "网络失败";
    }
}

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Idle transfer slots kept per session; beyond this a finished slot is closed with its connections.
constexpr std::size_t maxIdleSlots = 8;
// A poll ends at the next time limit or at a wake-up anyway; this cap only keeps the wait an int.
constexpr milliseconds longestPoll{std::numeric_limits<int>::max()};

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string lowerASCII(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string_view trimmed(std::string_view text) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

HttpError::Code codeFor(CURLcode code, long osErrno) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return HttpError::Code::cannotFindHost;
        case CURLE_COULDNT_CONNECT:
            return osErrno == ENETUNREACH ? HttpError::Code::notConnectedToInternet
                                          : HttpError::Code::cannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpError::Code::timedOut;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            return HttpError::Code::networkConnectionLost;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return HttpError::Code::secureConnectionFailed;
        case CURLE_URL_MALFORMAT:
            return HttpError::Code::badURL;
        case CURLE_UNSUPPORTED_PROTOCOL:
            return HttpError::Code::unsupportedURL;
        case CURLE_TOO_MANY_REDIRECTS:
            return HttpError::Code::tooManyRedirects;
        case CURLE_WEIRD_SERVER_REPLY:
            return HttpError::Code::badServerResponse;
        default:
            return HttpError::Code::other;
    }
}

bool isFollowedRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

std::string urlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return {};
    std::string result(text);
    curl_free(text);
    return result;
}

struct RedirectTarget {
    std::string url;
    std::string origin;  // scheme://host:port, lower case
};

std::string originOf(CURLU* url) {
    return lowerASCII(urlPart(url, CURLUPART_SCHEME) + "://" + urlPart(url, CURLUPART_HOST) + ":" +
                      urlPart(url, CURLUPART_PORT, CURLU_DEFAULT_PORT));
}

std::string originOf(const std::string& address) {
    UrlHandle url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) return {};
    return originOf(url.get());
}

// Resolves a Location (absolute or relative) against the address that answered with it.
RedirectTarget resolveLocation(const std::string& base, const std::string& location) {
    UrlHandle url(curl_url());
    if (!url) throw HttpError(HttpError::Code::other, "Out of memory while parsing a URL");
    if (curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK) {
        throw HttpError(HttpError::Code::badServerResponse, "Malformed redirect location");
    }
    std::string scheme = lowerASCII(urlPart(url.get(), CURLUPART_SCHEME));
    if (scheme != "http" && scheme != "https") {
        throw HttpError(HttpError::Code::redirectRefused,
                        "Refused redirect to the scheme \"" + scheme + "\"");
    }
    return {urlPart(url.get(), CURLUPART_URL), originOf(url.get())};
}

// What curl's callbacks fill during one transfer.
struct Transfer {
    HttpResponse response;
    std::optional<std::size_t> cap;
    bool capReached = false;
    CURL* easy = nullptr;
    const HttpRequest* request = nullptr;
    std::size_t received = 0;  // body bytes taken, kept or handed on
    Clock::time_point lastActivity = Clock::now();
    std::string lastHeader;  // where a folded continuation line belongs
    bool interimHead = false;  // the head being read is a 1xx one
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    // Single lines are no progress: a head sent a byte at a time, a line every few seconds, must
    // not hold the request open for ever. Only the end of the final head counts.
    if (trimmed(line).empty()) {
        if (!transfer->interimHead) transfer->lastActivity = Clock::now();
        return length;
    }
    // A new status line starts a new head (after an interim 1xx answer).
    if (line.starts_with("HTTP/")) {
        transfer->response.headers.clear();
        transfer->lastHeader.clear();
        auto space = line.find(' ');
        transfer->interimHead = space != std::string_view::npos && space + 1 < line.size() &&
                                line[space + 1] == '1';
        return length;
    }
    // An (obsolete) folded line goes on with the header above it, whatever colons it holds.
    if (line.starts_with(' ') || line.starts_with('\t')) {
        auto previous = transfer->response.headers.find(transfer->lastHeader);
        std::string_view more = trimmed(line);
        if (previous != transfer->response.headers.end() && !more.empty()) {
            if (!previous->second.empty()) previous->second += ' ';
            previous->second += more;
        }
        return length;
    }
    if (auto colon = line.find(':'); colon != std::string_view::npos) {
        transfer->lastHeader = lowerASCII(trimmed(line.substr(0, colon)));
        transfer->response.headers[transfer->lastHeader] =
            std::string(trimmed(line.substr(colon + 1)));
    }
    return length;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer->lastActivity = Clock::now();
    const bool capped = transfer->cap && transfer->received + length > *transfer->cap;
    const std::string_view piece(data, capped ? *transfer->cap - transfer->received : length);
    transfer->received += piece.size();
    long status = 0;
    if (transfer->request->onBodyPiece)
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 && status < 300) {
        transfer->request->onBodyPiece(static_cast<int>(status), transfer->response.headers, piece);
    } else {
        transfer->response.body.append(piece);
    }
    if (capped) {
        transfer->capReached = true;
        return 0;  // aborts the transfer: nothing past the cap is read
    }
    return length;
}

// `start + span`, held at the clock's ends: a limit of milliseconds::max() means "none", and
// would wrap round to the past in the clock's nanoseconds.
Clock::time_point later(Clock::time_point start, milliseconds span) {
    if (span <= milliseconds::zero()) return start;
    if (span >= std::chrono::duration_cast<milliseconds>(Clock::time_point::max() - start)) {
        return Clock::time_point::max();
    }
    return start + span;
}

long clampedMillis(milliseconds value) {
    return static_cast<long>(std::max<milliseconds::rep>(value.count(), 1));
}

// One multi handle with one easy handle: the multi handle keeps the connection and DNS caches
// between the transfers of whichever request holds the slot.
struct Slot {
    struct MultiDeleter {
        void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
    };
    struct EasyDeleter {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    std::unique_ptr<CURLM, MultiDeleter> multiHandle{curl_multi_init()};
    // Declared after the multi handle so that it is cleaned up first.
    std::unique_ptr<CURL, EasyDeleter> easyHandle{curl_easy_init()};
    CURLM* multi = multiHandle.get();
    CURL* easy = easyHandle.get();

    Slot() {
        if (!multi || !easy) throw HttpError(HttpError::Code::other, "Cannot create a curl handle");
    }
};

}  // namespace

struct HttpSession::State {
    std::mutex mutex;
    std::vector<std::unique_ptr<Slot>> idle;

    std::unique_ptr<Slot> acquire() {
        {
            std::lock_guard lock(mutex);
            if (!idle.empty()) {
                auto slot = std::move(idle.back());
                idle.pop_back();
                return slot;
            }
        }
        return std::make_unique<Slot>();
    }

    void release(std::unique_ptr<Slot> slot) {
        std::lock_guard lock(mutex);
        if (idle.size() < maxIdleSlots) idle.push_back(std::move(slot));
    }
};

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct MultiMembership {
    Slot& slot;
    ~MultiMembership() { curl_multi_remove_handle(slot.multi, slot.easy); }
};

// One request/answer exchange without following redirects.
HttpResponse transferOnce(Slot& slot, const HttpRequest& request, const std::string& url,
                          const Headers& headers, std::optional<Clock::time_point> deadline,
                          const std::stop_token& stop) {
    CURL* easy = slot.easy;
    curl_easy_reset(easy);

    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    for (const auto& [name, value] : headers) {
        // "Name;" is curl's way of sending a header with an empty value.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* extended = curl_slist_append(headerList.get(), line.c_str());
        if (!extended) throw HttpError(HttpError::Code::other, "Out of memory for headers");
        headerList.release();
        headerList.reset(extended);
    }

    Transfer transfer;
    transfer.cap = request.maxBodyBytes;
    transfer.easy = easy;
    transfer.request = &request;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    HttpSession::setTransportDefaults(easy);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    if (request.method == HttpRequest::Method::head) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, clampedMillis(request.timeout));
    if (deadline) {
        auto left = std::chrono::ceil<milliseconds>(*deadline - Clock::now());
        if (left.count() <= 0) {
            throw HttpError(HttpError::Code::timedOut, "Request deadline exceeded");
        }
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, clampedMillis(left));
    }

    if (curl_multi_add_handle(slot.multi, easy) != CURLM_OK) {
        throw HttpError(HttpError::Code::other, "Cannot start the transfer");
    }
    MultiMembership membership{slot};
    // Wakes the poll below at once, so a cancellation ends the transfer without delay.
    std::stop_callback wake(stop, [multi = slot.multi] { curl_multi_wakeup(multi); });

    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        int running = 0;
        CURLMcode status = curl_multi_perform(slot.multi, &running);
        if (status != CURLM_OK)
            throw HttpError(HttpError::Code::other, curl_multi_strerror(status));
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(slot.multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        if (done) break;
        throwIfCancelled(stop);

        auto now = Clock::now();
        auto idleLimit = later(transfer.lastActivity, request.timeout);
        if (now >= idleLimit) {
            throw HttpError(HttpError::Code::timedOut,
                            "No progress for " + std::to_string(request.timeout.count()) + " ms");
        }
        auto wakeAt = idleLimit;
        if (deadline) {
            if (now >= *deadline) {
                throw HttpError(HttpError::Code::timedOut, "Request deadline exceeded");
            }
            wakeAt = std::min(wakeAt, *deadline);
        }
        auto wait =
            std::clamp(std::chrono::ceil<milliseconds>(wakeAt - now), milliseconds{1}, longestPoll);
        status = curl_multi_poll(slot.multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        if (status != CURLM_OK)
            throw HttpError(HttpError::Code::other, curl_multi_strerror(status));
        throwIfCancelled(stop);
    }

    if (result == CURLE_WRITE_ERROR && transfer.capReached) {
        transfer.response.bodyTruncated = true;
    } else if (result != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
        std::string message = "curl " + std::to_string(static_cast<int>(result)) + ": " +
                              (errorText[0] ? errorText : curl_easy_strerror(result));
        throw HttpError(codeFor(result, osErrno), message, static_cast<int>(result));
    }

    long statusCode = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &statusCode);
    transfer.response.statusCode = static_cast<int>(statusCode);
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    transfer.response.url = effective ? effective : url;
    return std::move(transfer.response);
}

// Credentials set for one site must not travel to another one through a redirect.
void dropCredentials(Headers& headers) {
    std::erase_if(headers, [](const auto& header) {
        std::string name = lowerASCII(header.first);
        return name == "authorization" || name == "cookie" || name == "proxy-authorization";
    });
}

}  // namespace

HttpSession::HttpSession() : state_(nullptr) {
    initCurlOnce();
    state_ = new State;
}

HttpSession::~HttpSession() {
    delete state_;
}

HttpSession& HttpSession::shared() {
    static HttpSession session;
    return session;
}

HttpResponse HttpSession::perform(const HttpRequest& request, std::stop_token stop) {
    throwIfCancelled(stop);
    std::optional<Clock::time_point> deadline;
    if (request.deadline) deadline = later(Clock::now(), *request.deadline);

    struct Lease {
        State& state;
        std::unique_ptr<Slot> slot;
        ~Lease() { state.release(std::move(slot)); }
    } lease{*state_, state_->acquire()};

    std::string url = request.url;
    std::string origin = originOf(url);
    Headers headers = request.headers;
    for (int hops = 0;; ++hops) {
        HttpResponse response = transferOnce(*lease.slot, request, url, headers, deadline, stop);
        if (request.redirects == HttpRequest::Redirects::report ||
            !isFollowedRedirect(response.statusCode)) {
            return response;
        }
        auto location = response.headers.find("location");
        if (location == response.headers.end()) return response;
        RedirectTarget next = resolveLocation(url, location->second);
        if (hops >= request.maxRedirects) {
            throw HttpError(HttpError::Code::tooManyRedirects,
                            "More than " + std::to_string(request.maxRedirects) + " redirects",
                            CURLE_TOO_MANY_REDIRECTS);
        }
        if (request.redirectPolicy && !request.redirectPolicy(url, next.url)) return response;
        if (next.origin != origin) dropCredentials(headers);
        url = std::move(next.url);
        origin = std::move(next.origin);
    }
}

void HttpSession::setTransportDefaults(void* easy) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
}

}  // namespace velto
