#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

namespace velto {

// Memory for picture decodes in flight, shared by all of them: a decode reserves what its
// header says it will cost before it allocates anything, and waits while others hold too much
// of the budget. So the peak stays under the capacity however many covers are asked for at once.
// Waiters are served in the order they came: one that fits waits all the same behind an earlier
// one that does not yet, so a stream of small pictures cannot starve a large one.
class ArtworkDecodeBudget {
public:
    // Holds bytes of the budget until destroyed.
    class Reservation {
    public:
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&&) = delete;
        ~Reservation();

    private:
        friend class ArtworkDecodeBudget;
        Reservation(ArtworkDecodeBudget* budget, std::int64_t bytes);
        ArtworkDecodeBudget* budget_;
        std::int64_t bytes_;
    };

    explicit ArtworkDecodeBudget(std::int64_t capacity);
    ArtworkDecodeBudget(const ArtworkDecodeBudget&) = delete;
    ArtworkDecodeBudget& operator=(const ArtworkDecodeBudget&) = delete;

    std::int64_t capacity() const { return capacity_; }
    // Blocks until `bytes` fit beside the reservations held and every earlier waiter has been
    // served; none at once when they exceed the whole capacity (such a picture is refused, not
    // waited for), and none as soon as `stop` is requested, waiting or not.
    std::optional<Reservation> reserve(std::int64_t bytes, std::stop_token stop = {});
    std::int64_t reserved() const;
    int waiting() const;

    // The process-wide budget of every artwork decode.
    static ArtworkDecodeBudget& shared();
    static constexpr std::int64_t sharedCapacity = 256 * 1024 * 1024;

private:
    void release(std::int64_t bytes);

    const std::int64_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::int64_t reserved_ = 0;
    std::deque<std::uint64_t> queue_;  // tickets of the waiters, first come first
    std::uint64_t nextTicket_ = 0;
};

}  // namespace velto
