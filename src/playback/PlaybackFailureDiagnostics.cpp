#include "playback/PlaybackFailureDiagnostics.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

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

bool isAddressCharacter(char c) {
    static constexpr std::string_view punctuation = "._~:/?#@!$&'*+,;=%-";
    auto byte = static_cast<unsigned char>(c);
    return std::isalnum(byte) || punctuation.find(c) != std::string_view::npos;
}

// Length of the scheme and "://" of a web or file address starting at `at`, in any case; 0
// when none starts there.
std::size_t schemeLength(std::string_view text, std::size_t at) {
    for (std::string_view scheme : {"https://", "http://", "file://"}) {
        if (text.size() - at < scheme.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < scheme.size() && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(text[at + i])) == scheme[i];
        }
        if (same) return scheme.size();
    }
    return 0;
}

// One pass: an address runs from its scheme over ASCII address characters, so the first other
// byte (a blank, Chinese text) ends it and stays.
std::string withoutAddresses(std::string_view text) {
    std::string stripped;
    stripped.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (std::size_t length = schemeLength(text, at)) {
            at += length;
            while (at < text.size() && isAddressCharacter(text[at])) ++at;
        } else {
            stripped += text[at++];
        }
    }
    auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    auto begin = std::find_if(stripped.begin(), stripped.end(), notSpace);
    auto end = std::find_if(stripped.rbegin(), stripped.rend(), notSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

// At most maxMessageBytes of `text`, cut before a whole UTF-8 character, marked with "…".
std::string capped(std::string text) {
    if (text.size() <= maxMessageBytes) return text;
    std::size_t end = maxMessageBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text + "…";
}

}  // namespace

std::string message(const std::exception_ptr& error, const std::string& fallback) {
    if (!error) return fallback;
    if (auto hint = hintFor(error)) return *hint;
    std::string text = withoutAddresses(description(error));
    return text.empty() ? fallback : capped(std::move(text));
}

}  // namespace velto::PlaybackFailureDiagnostics
