#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "foundation/KeptThreads.h"

namespace velto {

// Why a fetch of stream bytes failed, in the terms a media source reports: the answer's HTTP
// status, or none for a transport failure (no answer at all).
struct StreamFetchError {
    int status = 0;
    std::string detail;  // for the log
};

// Bytes of a network stream, fetched with a byte range where the server honours one.
struct StreamBytes {
    std::uint64_t offset = 0;
    std::string bytes;
    std::optional<std::uint64_t> total;  // the whole stream's length, once told
    bool ranged = false;                 // the server answered the range asked for
};

// The first bytes of a network stream, fetched ahead on a transfer thread so that its song
// starts without waiting on the server, and read from while they arrive.
class StreamHead : public std::enable_shared_from_this<StreamHead> {
public:
    StreamHead(std::string url, std::string token, std::shared_ptr<KeptThreads> transfers)
        : url_(std::move(url)), token_(std::move(token)), transfers_(std::move(transfers)) {}
    const std::string& url() const { return url_; }
    const std::string& token() const { return token_; }
    // The threads its song's transfers run on, the rest's too.
    const std::shared_ptr<KeptThreads>& transfers() const { return transfers_; }

    // Waits until the fetch has ended; false if `stop` came first.
    bool wait(std::stop_token stop) const;
    bool done() const;
    // Waits until the byte at `offset` has come or the fetch has ended; false if `stop` came
    // first.
    bool waitFor(std::uint64_t offset, std::stop_token stop) const;
    // While the fetch goes on, what has come from `offset` on, at most `max` bytes; once it has
    // ended, none (bytes() tells then).
    std::optional<std::string> arriving(std::uint64_t offset, std::size_t max) const;
    // Once the server has answered: whether it took the range asked (a server that sends the
    // whole stream instead cannot be sought), and the stream's length if it told.
    std::optional<bool> ranged() const;
    std::optional<std::uint64_t> total() const;
    // Once done: the bytes, or why there are none.
    std::shared_ptr<const StreamBytes> bytes() const;
    std::optional<StreamFetchError> error() const;
    // Once done: whether the song can be played from these bytes on (the rest fetched by ranges,
    // or none left).
    bool usable() const;

    void start();
    void cancel() { stop_.request_stop(); }

private:
    // Throws StreamFetchError, or CancellationError once `stop` is requested.
    void fetch(std::stop_token stop);
    void finish(std::optional<StreamFetchError> error);

    std::string url_;
    std::string token_;
    std::shared_ptr<KeptThreads> transfers_;
    std::stop_source stop_;
    mutable std::mutex mutex_;
    mutable std::condition_variable_any ended_;
    bool done_ = false;
    bool answered_ = false;
    StreamBytes arrived_;  // while the fetch goes on
    std::shared_ptr<const StreamBytes> bytes_;
    std::optional<StreamFetchError> error_;
};

// The heads fetched for the songs a player is about to play: one per song, freed (and its fetch
// cancelled) as soon as the song is no longer one of them. Main thread; `find` from any thread.
class StreamHeads {
public:
    // How much of a song is fetched ahead: a minute of a 128 kbit/s stream, a dozen seconds of
    // CD-quality PCM.
    static constexpr std::size_t headBytes = 1 << 20;
    // How much of the rest is read ahead of where a song plays, after its head.
    static constexpr std::size_t streamBufferBytes = 512 << 10;
    static constexpr const char* scheme = "veltohead";

    // The transfers of the current and the next song, each of which may be replaced by a seek
    // while the one replaced ends.
    static constexpr int transferThreads = 4;

    // Transfer threads are started by `startThread` (std::thread when empty).
    explicit StreamHeads(KeptThreads::StartThread startThread = {});
    ~StreamHeads();
    StreamHeads(const StreamHeads&) = delete;
    StreamHeads& operator=(const StreamHeads&) = delete;

    // Starts fetching the head of the song `id` at `url` (http or https only) unless it has one.
    void fetch(std::uint64_t id, const std::string& url);
    // Drops the heads of every song but `keep`.
    void keepOnly(const std::set<std::uint64_t>& keep);
    std::size_t count() const;
    // The threads the heads and the rest of their songs are fetched on.
    const std::shared_ptr<KeptThreads>& transfers() const { return transfers_; }

    // The address a playbin reads song `id` by: its head's while that is fetched, usable or
    // refused by the server (asked again by the source), else `url` itself.
    std::string addressFor(std::uint64_t id, const std::string& url) const;
    // The head an address given by addressFor names, if it is still held by a player.
    static std::shared_ptr<StreamHead> find(const std::string& address);

private:
    struct Held {
        std::uint64_t id;
        std::shared_ptr<StreamHead> head;
    };
    std::shared_ptr<KeptThreads> transfers_;
    mutable std::mutex mutex_;
    std::vector<Held> heads_;
};

}  // namespace velto
