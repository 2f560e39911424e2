#include "platform/PlayerItem.h"

#include <atomic>

namespace velto {

namespace {
std::atomic<PlayerItem::Id> nextItemId{1};
}

PlayerItem::PlayerItem(std::string uri, double preferredForwardBuffer)
    : id_(nextItemId.fetch_add(1)),
      uri_(std::move(uri)),
      preferredForwardBuffer_(preferredForwardBuffer) {}

void PlayerItem::setStatus(Status status, std::string errorMessage) {
    status_ = status;
    errorMessage_ = status == Status::failed ? std::move(errorMessage) : std::string();
}

}  // namespace velto
