#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <variant>

#include "foundation/Cancellation.h"
#include "sources/model/SourceRuntime.h"

namespace velto {

// A back end whose song-detail requests wait on a worker until the test answers them, and
// which notices when a waiting request is cancelled.
class ScriptedDetailRuntime final : public SourceRuntime {
  public:
    using Answer = std::variant<Track, std::exception_ptr>;

    Track trackDetail(const Track&, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        ++calls_;
        changed_.notify_all();
        changed_.wait(lock, stop, [&] { return !answers_.empty(); });
        if (answers_.empty()) {
            ++cancelled_;
            changed_.notify_all();
            throw CancellationError();
        }
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        if (auto* error = std::get_if<std::exception_ptr>(&answer)) std::rethrow_exception(*error);
        return std::get<Track>(answer);
    }

    void answer(Answer answer) {
        std::lock_guard lock(mutex_);
        answers_.push_back(std::move(answer));
        changed_.notify_all();
    }
    // Blocks (without a clock) until that many requests arrived, or that many were cancelled.
    void awaitCalls(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return calls_ >= count; });
    }
    void awaitCancelled(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancelled_ >= count; });
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    SearchPage search(const std::string&, MusicSource, int, std::stop_token) override { unused(); }
    LyricInfo lyric(const Track&, std::stop_token) override { unused(); }
    std::string picURL(const Track&, std::stop_token) override { unused(); }
    std::vector<std::string> tipSearch(const std::string&, std::stop_token) override { unused(); }

  private:
    [[noreturn]] static void unused() { throw std::logic_error("not scripted"); }

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Answer> answers_;
    int calls_ = 0;
    int cancelled_ = 0;
};

}  // namespace velto
