#include "platform/HttpByteStream.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "platform/HttpClient.h"

namespace velto {

namespace {

// A server that sends nothing for this long, while there is room for what it sends, has failed.
constexpr std::chrono::seconds stallTimeout{20};

std::optional<std::uint64_t> number(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

struct HttpByteStream::State {
    std::string url;
    std::uint64_t offset;
    std::size_t bound;

    mutable std::mutex mutex;
    std::condition_variable_any changed;
    std::stop_source stop;
    std::string buffer;        // the bytes from `position` on, after `taken`
    std::size_t taken = 0;     // bytes at the buffer's front already read
    std::uint64_t position;    // of the first byte not yet read
    std::uint64_t skip = 0;    // bytes still to drop: the server ignored the range
    bool answered = false;     // the answer's head has been taken in
    long status = 0;
    std::optional<std::uint64_t> total;
    std::optional<std::uint64_t> length;  // of this answer's body
    bool ended = false;
    std::optional<StreamFetchError> error;
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();

    State(std::string address, std::uint64_t from, std::size_t most)
        : url(std::move(address)), offset(from), bound(most), position(from) {
        buffer.reserve(bound);  // never grown beyond: the bound is what it allocates
    }

    std::size_t available() const { return buffer.size() - taken; }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto& self = *static_cast<State*>(user);
        std::string_view line(data, size * count);
        std::lock_guard lock(self.mutex);
        self.lastProgress = std::chrono::steady_clock::now();
        if (line.starts_with("HTTP/")) {  // each answer of a redirect starts again
            self.length.reset();
            self.total.reset();
            return size * count;
        }
        auto colon = line.find(':');
        if (colon == std::string_view::npos) return size * count;
        std::string name(line.substr(0, colon));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        std::string_view value = line.substr(colon + 1);
        if (name == "content-length") self.length = number(value);
        if (name == "content-range") {
            auto slash = value.rfind('/');
            if (slash != std::string_view::npos) self.total = number(value.substr(slash + 1));
        }
        return size * count;
    }

    // Takes the answer's head in at its first body bytes: the status, and what to skip.
    bool takeAnswer(CURL* easy) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        answered = true;
        if (status >= 400 || status < 200) {
            error = StreamFetchError{static_cast<int>(status),
                                     "the server answered (" + std::to_string(status) + ")"};
            return false;
        }
        if (status != 206) {
            skip = offset;
            if (length) total = *length;
        }
        return true;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto& self = *static_cast<State*>(user);
        std::string_view bytes(data, size * count);
        std::unique_lock lock(self.mutex);
        if (!self.answered && !self.takeAnswer(static_cast<CURL*>(self.easy))) return 0;
        const std::size_t dropped = std::min<std::uint64_t>(self.skip, bytes.size());
        self.skip -= dropped;
        bytes.remove_prefix(dropped);
        while (!bytes.empty()) {
            // Waits for room: the transfer stands still while the bytes are not wanted yet.
            if (!self.changed.wait(lock, self.stop.get_token(),
                                   [&] { return self.available() < self.bound; }))
                return 0;
            self.buffer.erase(0, std::exchange(self.taken, 0));
            const std::size_t room = std::min(bytes.size(), self.bound - self.buffer.size());
            self.buffer.append(bytes.substr(0, room));
            bytes.remove_prefix(room);
            self.changed.notify_all();
        }
        self.lastProgress = std::chrono::steady_clock::now();
        return size * count;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto& self = *static_cast<State*>(user);
        if (self.stop.stop_requested()) return 1;
        std::lock_guard lock(self.mutex);
        return std::chrono::steady_clock::now() - self.lastProgress > stallTimeout ? 1 : 0;
    }

    void* easy = nullptr;

    void run() {
        CURL* handle = curl_easy_init();
        easy = handle;
        char errorText[CURL_ERROR_SIZE] = {};
        curl_slist* headers = nullptr;
        const std::string range = "Range: bytes=" + std::to_string(offset) + "-";
        headers = curl_slist_append(headers, range.c_str());
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        HttpSession::setTransportDefaults(handle);
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &State::onHeader);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &State::onBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &State::onProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::chrono::milliseconds(stallTimeout).count()));
        const CURLcode result = curl_easy_perform(handle);
        std::unique_lock lock(mutex);
        if (result == CURLE_OK && !answered) takeAnswer(handle);
        if (result != CURLE_OK && !error && !stop.stop_requested())
            error = StreamFetchError{0, std::string("transfer failed: ") +
                                            (errorText[0] ? errorText : curl_easy_strerror(result))};
        ended = true;
        easy = nullptr;
        lock.unlock();
        changed.notify_all();
        curl_slist_free_all(headers);
        curl_easy_cleanup(handle);
    }
};

HttpByteStream::HttpByteStream(KeptThreads& transfers, std::string url, std::uint64_t offset,
                               std::size_t bufferBytes)
    : state_(std::make_shared<State>(std::move(url), offset, std::max<std::size_t>(bufferBytes, 1))) {
    if (!transfers.run([state = state_] { state->run(); })) {
        std::lock_guard lock(state_->mutex);
        state_->ended = true;
        state_->error = StreamFetchError{0, "no transfer thread"};
    }
}

HttpByteStream::~HttpByteStream() {
    state_->stop.request_stop();
    state_->changed.notify_all();
}

std::optional<std::string> HttpByteStream::read(std::size_t max, std::stop_token interrupt) {
    State& state = *state_;
    std::unique_lock lock(state.mutex);
    if (!state.changed.wait(lock, interrupt,
                            [&] { return state.available() > 0 || state.ended; }))
        return std::nullopt;
    if (state.available() == 0) {
        if (state.error) throw *state.error;
        return std::string();
    }
    const std::size_t count = std::min(max, state.available());
    std::string bytes = state.buffer.substr(state.taken, count);
    state.taken += count;
    state.position += count;
    lock.unlock();
    state.changed.notify_all();
    return bytes;
}

std::uint64_t HttpByteStream::position() const {
    std::lock_guard lock(state_->mutex);
    return state_->position;
}

std::uint64_t HttpByteStream::start() const {
    return state_->offset;
}

std::optional<std::uint64_t> HttpByteStream::total() const {
    std::lock_guard lock(state_->mutex);
    return state_->total;
}

std::size_t HttpByteStream::bound() const {
    return state_->bound;
}

std::size_t HttpByteStream::buffered() const {
    std::lock_guard lock(state_->mutex);
    return state_->available();
}

}  // namespace velto
