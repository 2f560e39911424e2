#pragma once

#include <deque>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "sources/rovoz/ChkszAPIRequesting.h"

namespace velto {

// Answers RoVOz requests with queued bodies (or errors) and keeps what was asked.
class RecordingChkszAPI : public ChkszAPIRequesting {
  public:
    struct Call {
        std::string path;
        std::map<std::string, std::string> parameters;
    };

    std::vector<Call> calls;

    void answer(std::string body) { answers_.push_back({std::move(body), nullptr}); }
    void fail(std::exception_ptr error) { answers_.push_back({{}, std::move(error)}); }

    std::string request(const std::string& path,
                        const std::map<std::string, std::string>& parameters,
                        std::stop_token) override {
        calls.push_back({path, parameters});
        if (answers_.empty()) throw std::logic_error("unexpected RoVOz request to " + path);
        auto next = std::move(answers_.front());
        answers_.pop_front();
        if (next.error) std::rethrow_exception(next.error);
        return next.body;
    }

  private:
    struct Answer {
        std::string body;
        std::exception_ptr error;
    };
    std::deque<Answer> answers_;
};

}  // namespace velto
