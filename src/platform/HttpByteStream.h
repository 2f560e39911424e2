#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/StreamHeads.h"
#include "foundation/KeptThreads.h"

namespace velto {

// A network stream read from a byte on, by one request, on a transfer thread into a buffer of
// bounded size: the transfer waits while the buffer is full, so what is read ahead costs no more
// memory however slowly it is played, and a late server's wait is paid once, not per request.
// A server that ignores the range is read from its start and what comes before is skipped.
// Dropping the stream stops it without waiting for the server.
class HttpByteStream {
public:
    HttpByteStream(KeptThreads& transfers, std::string url, std::uint64_t offset,
                   std::size_t bufferBytes);
    ~HttpByteStream();
    HttpByteStream(const HttpByteStream&) = delete;
    HttpByteStream& operator=(const HttpByteStream&) = delete;

    // The next bytes, at most `max`, once at least one is in; empty at the stream's end; none
    // if `interrupt` came first. Throws StreamFetchError for a refusal or a broken transfer.
    std::optional<std::string> read(std::size_t max, std::stop_token interrupt);
    // Where the next read starts, and where the stream was opened.
    std::uint64_t position() const;
    std::uint64_t start() const;
    // The whole stream's length, once the server has told it.
    std::optional<std::uint64_t> total() const;
    // What the buffer holds at most, and now.
    std::size_t bound() const;
    std::size_t buffered() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velto
