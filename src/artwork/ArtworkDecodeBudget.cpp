#include "artwork/ArtworkDecodeBudget.h"

#include <algorithm>

namespace velto {

ArtworkDecodeBudget::Reservation::Reservation(ArtworkDecodeBudget* budget, std::int64_t bytes)
    : budget_(budget), bytes_(bytes) {}

ArtworkDecodeBudget::Reservation::Reservation(Reservation&& other) noexcept
    : budget_(other.budget_), bytes_(other.bytes_) {
    other.budget_ = nullptr;
}

ArtworkDecodeBudget::Reservation::~Reservation() {
    if (budget_) budget_->release(bytes_);
}

ArtworkDecodeBudget::ArtworkDecodeBudget(std::int64_t capacity)
    : capacity_(std::max<std::int64_t>(capacity, 0)) {}

std::optional<ArtworkDecodeBudget::Reservation> ArtworkDecodeBudget::reserve(std::int64_t bytes,
                                                                             std::stop_token stop) {
    bytes = std::max<std::int64_t>(bytes, 0);
    if (bytes > capacity_) return std::nullopt;
    std::unique_lock lock(mutex_);
    if (stop.stop_requested()) return std::nullopt;
    const std::uint64_t ticket = nextTicket_++;
    queue_.push_back(ticket);
    // Woken by every release and every departure from the queue, and by the stop.
    const bool admitted = changed_.wait(
        lock, stop, [&] { return queue_.front() == ticket && reserved_ <= capacity_ - bytes; });
    queue_.erase(std::find(queue_.begin(), queue_.end(), ticket));
    // The next in line may fit too, or (when this one leaves unserved) be first now.
    changed_.notify_all();
    if (!admitted || stop.stop_requested()) return std::nullopt;
    reserved_ += bytes;
    return Reservation(this, bytes);
}

std::int64_t ArtworkDecodeBudget::reserved() const {
    std::lock_guard lock(mutex_);
    return reserved_;
}

int ArtworkDecodeBudget::waiting() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(queue_.size());
}

void ArtworkDecodeBudget::release(std::int64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        reserved_ -= bytes;
    }
    changed_.notify_all();
}

ArtworkDecodeBudget& ArtworkDecodeBudget::shared() {
    static ArtworkDecodeBudget budget(sharedCapacity);
    return budget;
}

}  // namespace velto
