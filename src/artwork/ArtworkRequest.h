#pragma once

#include <functional>
#include <memory>

namespace velto {

// A caller's hold on an artwork answer. Main thread only. Dropping the handle changes nothing.
class ArtworkRequest {
public:
    ArtworkRequest() = default;

    // The callback will not be called any more; a load that nobody else waits for stops.
    void cancel();
    bool isCancelled() const { return state_ && state_->cancelled; }
    // Whether the callback has run.
    bool isAnswered() const { return state_ && state_->answered; }

private:
    friend class ArtworkService;
    struct State {
        bool cancelled = false;
        bool answered = false;
        std::function<void()> onCancel;
    };
    explicit ArtworkRequest(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
};

}  // namespace velto
