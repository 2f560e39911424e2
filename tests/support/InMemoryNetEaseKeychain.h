#pragma once

#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "sources/credentials/NetEaseKeychain.h"

namespace velto {

// The cookie item kept in memory; can be told to refuse the next additions.
class InMemoryNetEaseKeychain final : public NetEaseKeychain {
  public:
    std::optional<std::string> read() override {
        std::lock_guard lock(mutex_);
        ++reads;
        return item;
    }
    void remove() override {
        std::lock_guard lock(mutex_);
        item.reset();
    }
    void add(const std::string& value) override {
        std::lock_guard lock(mutex_);
        if (refuseAdds) throw std::runtime_error("refused");
        item = value;
    }

    std::optional<std::string> item;
    bool refuseAdds = false;
    int reads = 0;

  private:
    std::mutex mutex_;
};

}  // namespace velto
