#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velto {

// One song's stream in a QueuePlayer. The player that holds an item is the only writer of its
// status and duration, always on the main thread; anyone on the main thread may read them.
// An item is compared by identity (its pointer or its id), never by address.
class PlayerItem {
public:
    using Id = std::uint64_t;

    enum class Status {
        unknown,      // not (yet) opened by the player
        readyToPlay,  // opened: the stream can play and its duration is known if it has one
        failed,       // could not be opened or broke while playing; errorMessage() says why
    };

    // `uri` is an http(s) or file URI. `preferredForwardBuffer` (seconds, 0 = the player's
    // default) is how much of a network stream the player should keep buffered ahead.
    explicit PlayerItem(std::string uri, double preferredForwardBuffer = 0);

    Id id() const { return id_; }
    const std::string& uri() const { return uri_; }
    double preferredForwardBuffer() const { return preferredForwardBuffer_; }

    Status status() const { return status_; }
    // Length in seconds once the player knows it (never for an endless stream).
    std::optional<double> duration() const { return duration_; }
    // What the user reads about the failure (the player logs the technical detail); empty
    // unless the status is failed.
    const std::string& errorMessage() const { return errorMessage_; }

    // For player implementations (and their fakes) only.
    void setStatus(Status status, std::string errorMessage = {});
    void setDuration(std::optional<double> seconds) { duration_ = seconds; }

private:
    Id id_;
    std::string uri_;
    double preferredForwardBuffer_;
    Status status_ = Status::unknown;
    std::optional<double> duration_;
    std::string errorMessage_;
};

using PlayerItemPtr = std::shared_ptr<PlayerItem>;

}  // namespace velto
