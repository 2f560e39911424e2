#pragma once

#include <stdexcept>
#include <string>

namespace velto {

// The back end answered a detail request with another song. Never shown to the user.
class TrackDetailRefreshError : public std::runtime_error {
  public:
    static TrackDetailRefreshError identityMismatch(std::string expected, std::string received) {
        return TrackDetailRefreshError(std::move(expected), std::move(received));
    }

    const std::string& expected() const { return expected_; }
    const std::string& received() const { return received_; }
    bool operator==(const TrackDetailRefreshError& other) const {
        return expected_ == other.expected_ && received_ == other.received_;
    }

  private:
    TrackDetailRefreshError(std::string expected, std::string received)
        : std::runtime_error("track detail identity mismatch: expected " + expected +
                             ", received " + received),
          expected_(std::move(expected)),
          received_(std::move(received)) {}

    std::string expected_;
    std::string received_;
};

}  // namespace velto
