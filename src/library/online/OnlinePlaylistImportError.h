#pragma once

#include <stdexcept>
#include <string_view>

namespace velto {

// Why an online playlist could not be previewed. what() is the text the import sheet shows.
class OnlinePlaylistImportError : public std::runtime_error {
public:
    enum class Kind { invalidInput, unsupportedLink, notPlaylistLink, unavailable, invalidResponse, tooLarge };

    explicit OnlinePlaylistImportError(Kind kind);
    Kind kind() const { return kind_; }
    static std::string_view description(Kind kind);

    bool operator==(const OnlinePlaylistImportError& other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

// A playlist answer that is not JSON at all. Its own error, so callers can tell it from a
// readable answer that lacks data, but it shows the same text as invalidResponse.
class OnlinePlaylistJSONError : public std::runtime_error {
public:
    OnlinePlaylistJSONError();
};

}  // namespace velto
