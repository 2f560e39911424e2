#include "artwork/ArtworkRequest.h"

namespace velto {

void ArtworkRequest::cancel() {
    if (!state_ || state_->cancelled || state_->answered) return;
    state_->cancelled = true;
    auto action = std::move(state_->onCancel);
    state_->onCancel = nullptr;
    if (action) action();
}

}  // namespace velto
