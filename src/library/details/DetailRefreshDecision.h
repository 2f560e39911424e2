#pragma once

#include <chrono>

namespace velto {

// Whether a song's details must be fetched now.
struct DetailRefreshDecision {
    enum class Kind { retryDeferred, cached, refresh };

    Kind kind = Kind::refresh;
    std::chrono::system_clock::time_point until{};  // retryDeferred only

    static DetailRefreshDecision retryDeferred(std::chrono::system_clock::time_point date) {
        return {Kind::retryDeferred, date};
    }
    static DetailRefreshDecision cached() { return {Kind::cached, {}}; }
    static DetailRefreshDecision refresh() { return {Kind::refresh, {}}; }

    bool operator==(const DetailRefreshDecision&) const = default;
};

}  // namespace velto
