#pragma once

#include <optional>
#include <string>

namespace velto {

// The one secret item that holds the NetEase login cookie. The store depends on this interface
// so that tests can keep the item in memory.
class NetEaseKeychain {
  public:
    virtual ~NetEaseKeychain() = default;

    // The stored bytes as UTF-8 text; none when there is no item or it cannot be read.
    virtual std::optional<std::string> read() = 0;
    // Removes the item; an absent item is fine and nothing is reported.
    virtual void remove() = 0;
    // Adds the item; throws when the secret store refuses it.
    virtual void add(const std::string& value) = 0;
};

}  // namespace velto
