#include "artwork/ArtworkDecodeBudget.h"

#include <malloc.h>

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

std::optional<ArtworkDecodeBudget::Reservation> ArtworkDecodeBudget::reserve(std::int64_t bytes) {
    bytes = std::max<std::int64_t>(bytes, 0);
    if (bytes > capacity_) return std::nullopt;
    std::unique_lock lock(mutex_);
    ++waiting_;
    freed_.wait(lock, [&] { return reserved_ <= capacity_ - bytes; });
    --waiting_;
    reserved_ += bytes;
    return Reservation(this, bytes);
}

std::int64_t ArtworkDecodeBudget::reserved() const {
    std::lock_guard lock(mutex_);
    return reserved_;
}

int ArtworkDecodeBudget::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

void ArtworkDecodeBudget::release(std::int64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        reserved_ -= bytes;
    }
    freed_.notify_all();
}

ArtworkDecodeBudget& ArtworkDecodeBudget::shared() {
    static ArtworkDecodeBudget budget = [] {
        // The allocator's mapping threshold, fixed at its usual ceiling, stops adapting: adapted,
        // it serves decode-sized buffers from each worker's own arena and keeps them there once
        // freed, so the peak grew with the number of workers that ever decoded, whatever the
        // budget (eight 2600² 16-bit PNGs on 16 workers: 430 MB against 146 MB fixed).
        ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        return ArtworkDecodeBudget(sharedCapacity);
    }();
    return budget;
}

}  // namespace velto
