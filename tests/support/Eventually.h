#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace velto {

// Whether `condition` holds within a bound that no passing run comes near: a rule that breaks
// fails its test in seconds, saying which, instead of at ctest's time-out.
inline bool eventually(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace velto
