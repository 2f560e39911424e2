#include "playback/PlaybackFailureDiagnostics.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <regex>

#include "platform/HttpClient.h"
#include "sources/model/SourceError.h"

namespace velto::PlaybackFailureDiagnostics {

namespace {

std::optional<std::string> networkHint(const HttpError& error) {
    switch (error.code()) {
        case HttpError::Code::notConnectedToInternet: return "网络未连接，请联网后重试";
        case HttpError::Code::timedOut: return "网络请求超时，请检查网络或 VPN 分流后重试";
        case HttpError::Code::networkConnectionLost: return "网络连接中断，请重试";
        case HttpError::Code::cannotFindHost:
        case HttpError::Code::cannotConnectToHost:
        case HttpError::Code::secureConnectionFailed: return "无法连接音源，请检查网络或 VPN 分流后重试";
        default: return std::nullopt;
    }
}

std::optional<std::string> hintFor(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const HttpError& http) {
        return networkHint(http);
    } catch (const SourceError& source) {
        if (source.kind() == SourceError::Kind::network && source.underlying())
            return hintFor(source.underlying());
    } catch (...) {
    }
    return std::nullopt;
}

std::string description(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

std::string withoutAddresses(const std::string& text) {
    // Addresses are ASCII; stopping at the first other byte keeps the Chinese text intact.
    static const std::regex address(R"((https?|file)://[A-Za-z0-9._~:/?#@!$&'*+,;=%\-]*)",
                                    std::regex::icase);
    std::string stripped = std::regex_replace(text, address, "");
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    auto begin = std::find_if(stripped.begin(), stripped.end(), notSpace);
    auto end = std::find_if(stripped.rbegin(), stripped.rend(), notSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

}  // namespace

std::string message(const std::exception_ptr& error, const std::string& fallback) {
    if (!error) return fallback;
    if (auto hint = hintFor(error)) return *hint;
    std::string text = withoutAddresses(description(error));
    return text.empty() ? fallback : text;
}

}  // namespace velto::PlaybackFailureDiagnostics
