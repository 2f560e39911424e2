#include "platform/StreamHeads.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <map>
#include <string_view>
#include <utility>

#include "foundation/Cancellation.h"
#include "foundation/Log.h"
#include "platform/HttpClient.h"

namespace velto {

namespace {

constexpr std::string_view logCategory = "Player";

// A server that stops answering fails the song after this long, as a stalled share does.
constexpr std::chrono::seconds fetchTimeout{20};

std::optional<std::uint64_t> numberOf(std::string_view text) {
    std::uint64_t number = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

// A range's "bytes 0-1023/52000" (the total after the slash, unless it is "*"), or the whole
// stream's "Content-Length: 52000".
std::optional<std::uint64_t> totalTold(int status,
                                       const std::map<std::string, std::string>& headers) {
    if (status != 206) {
        auto length = headers.find("content-length");
        return length == headers.end() ? std::nullopt : numberOf(length->second);
    }
    auto range = headers.find("content-range");
    if (range == headers.end()) return std::nullopt;
    auto slash = range->second.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return numberOf(std::string_view(range->second).substr(slash + 1));
}

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<StreamHead>>& registry() {
    static std::map<std::string, std::weak_ptr<StreamHead>> heads;
    return heads;
}

std::atomic<std::uint64_t> tokens{0};

}  // namespace

void StreamHead::fetch(std::stop_token stop) {
    HttpRequest request;
    request.url = url_;
    request.timeout = fetchTimeout;
    request.maxBodyBytes = StreamHeads::headBytes;
    request.headers.emplace_back("Range", "bytes=0-" + std::to_string(StreamHeads::headBytes - 1));
    request.onBodyPiece = [this](int status, const std::map<std::string, std::string>& headers,
                                 std::string_view piece) {
        {
            std::lock_guard lock(mutex_);
            if (!std::exchange(answered_, true)) {
                arrived_.ranged = status == 206;
                arrived_.total = totalTold(status, headers);
            }
            arrived_.bytes.append(piece);
        }
        ended_.notify_all();
    };
    HttpResponse response;
    try {
        response = HttpSession().perform(request, stop);
    } catch (const HttpError& error) {
        std::lock_guard lock(mutex_);
        // What a ranged answer brought before its transfer broke is a head still: the rest is
        // asked for from where it ends.
        if (arrived_.ranged && !arrived_.bytes.empty()) return;
        throw StreamFetchError{0, error.detail()};
    }
    if (response.statusCode >= 400 || response.statusCode < 200)
        throw StreamFetchError{response.statusCode,
                               "the server answered (" + std::to_string(response.statusCode) + ")"};
    std::lock_guard lock(mutex_);
    if (!std::exchange(answered_, true)) arrived_.ranged = response.statusCode == 206;
    if (!arrived_.ranged && !response.bodyTruncated) arrived_.total = arrived_.bytes.size();
}

bool StreamHead::wait(std::stop_token stop) const {
    std::unique_lock lock(mutex_);
    return ended_.wait(lock, stop, [&] { return done_; });
}

bool StreamHead::done() const {
    std::lock_guard lock(mutex_);
    return done_;
}

std::shared_ptr<const StreamBytes> StreamHead::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::optional<StreamFetchError> StreamHead::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool StreamHead::usable() const {
    std::lock_guard lock(mutex_);
    return bytes_ && (bytes_->ranged || (bytes_->total && *bytes_->total == bytes_->bytes.size()));
}

bool StreamHead::waitFor(std::uint64_t offset, std::stop_token stop) const {
    std::unique_lock lock(mutex_);
    return ended_.wait(lock, stop, [&] { return done_ || arrived_.bytes.size() > offset; });
}

std::optional<std::string> StreamHead::arriving(std::uint64_t offset, std::size_t max) const {
    std::lock_guard lock(mutex_);
    if (done_) return std::nullopt;
    if (offset >= arrived_.bytes.size()) return std::string();
    return arrived_.bytes.substr(offset, max);
}

std::optional<bool> StreamHead::ranged() const {
    std::lock_guard lock(mutex_);
    if (bytes_) return bytes_->ranged;
    if (answered_ && !done_) return arrived_.ranged;
    return std::nullopt;
}

std::optional<std::uint64_t> StreamHead::total() const {
    std::lock_guard lock(mutex_);
    if (bytes_) return bytes_->total;
    if (answered_ && !done_) return arrived_.total;
    return std::nullopt;
}

// On a transfer thread, which holds the head: a server that never answers holds nothing of the
// player's, and the thread is free within moments of the head's cancellation.
void StreamHead::start() {
    auto fetch = [head = shared_from_this(), stop = stop_.get_token()] {
        std::optional<StreamFetchError> error;
        try {
            head->fetch(stop);
        } catch (const StreamFetchError& failure) {
            error = failure;
            Log::info(logCategory, "A song's first data could not be fetched ahead: " + failure.detail);
        } catch (const CancellationError&) {
            error = StreamFetchError{0, "cancelled"};
        } catch (const std::exception& failure) {
            error = StreamFetchError{0, failure.what()};
        }
        head->finish(std::move(error));
    };
    if (!transfers_->run(std::move(fetch))) {
        Log::error(logCategory, "No thread to fetch a song's first data ahead");
        finish(StreamFetchError{0, "no transfer thread"});
    }
}

void StreamHead::finish(std::optional<StreamFetchError> error) {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        if (!error) {
            arrived_.bytes.shrink_to_fit();  // what it holds is what it costs
            bytes_ = std::make_shared<const StreamBytes>(std::move(arrived_));
        }
        arrived_ = StreamBytes{};
        error_ = std::move(error);
    }
    ended_.notify_all();
}

StreamHeads::StreamHeads(KeptThreads::StartThread startThread)
    : transfers_(std::make_shared<KeptThreads>(std::move(startThread), transferThreads)) {}

StreamHeads::~StreamHeads() {
    keepOnly({});
    transfers_->close();
}

void StreamHeads::fetch(std::uint64_t id, const std::string& url) {
    if (!url.starts_with("http://") && !url.starts_with("https://")) return;
    std::lock_guard held(mutex_);
    if (std::any_of(heads_.begin(), heads_.end(), [&](const Held& held) { return held.id == id; }))
        return;
    auto head = std::make_shared<StreamHead>(
        url, std::string(scheme) + "://" + std::to_string(++tokens), transfers_);
    {
        std::lock_guard lock(registryMutex);
        registry()[head->token()] = head;
    }
    heads_.push_back({id, head});
    head->start();
}

std::size_t StreamHeads::count() const {
    std::lock_guard lock(mutex_);
    return heads_.size();
}

void StreamHeads::keepOnly(const std::set<std::uint64_t>& keep) {
    std::lock_guard held(mutex_);
    auto dropped = std::stable_partition(heads_.begin(), heads_.end(),
                                         [&](const Held& held) { return keep.contains(held.id); });
    if (dropped == heads_.end()) return;
    {
        std::lock_guard lock(registryMutex);
        for (auto it = dropped; it != heads_.end(); ++it) registry().erase(it->head->token());
    }
    for (auto it = dropped; it != heads_.end(); ++it) it->head->cancel();
    heads_.erase(dropped, heads_.end());
}

std::string StreamHeads::addressFor(std::uint64_t id, const std::string& url) const {
    std::lock_guard lock(mutex_);
    auto held = std::find_if(heads_.begin(), heads_.end(),
                             [&](const Held& each) { return each.id == id; });
    if (held == heads_.end()) return url;
    const StreamHead& head = *held->head;
    // A head the server refused is given all the same: its source asks again on our transfers.
    // GStreamer's own HTTP source would set up a session of its own, with its threads and TLS,
    // for every song that cannot play, and what they leave behind grows with each.
    const auto error = head.error();
    const bool refused = error && error->status != 0;
    if (head.done() && !head.usable() && !refused) return url;
    return head.token();
}

std::shared_ptr<StreamHead> StreamHeads::find(const std::string& address) {
    std::lock_guard lock(registryMutex);
    auto it = registry().find(address);
    return it == registry().end() ? nullptr : it->second.lock();
}

}  // namespace velto
