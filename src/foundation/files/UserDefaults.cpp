#include "foundation/files/UserDefaults.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "foundation/files/AtomicFile.h"
#include "foundation/files/RegularFile.h"
#include "foundation/text/Base64.h"
#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"

namespace velto {

namespace {
// Data values are stored as {"$data": "<base64>"} so they never read as text.
constexpr const char* dataKey = "$data";

bool isDataValue(const nlohmann::json& value) {
    return value.is_object() && value.size() == 1 && value.contains(dataKey) &&
           value[dataKey].is_string();
}

// Names one text of the settings file: its length and its 64-bit FNV-1a.
std::string digestOf(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[48];
    std::snprintf(name, sizeof name, "%zu-%016llx", text.size(),
                  static_cast<unsigned long long>(hash));
    return name;
}

// Settings take a few kilobytes; a file far larger is something else.
constexpr std::size_t largestFile = 4 << 20;

// The text of a settings file, none when there is none. Throws when the file cannot be
// settings: unreadable, not a regular file (a pipe would hold the start, a device feed it
// without end), or too large.
std::optional<std::string> readText(const std::filesystem::path& file) {
    if (auto text = RegularFile::read(file, largestFile)) return text;
    if (errno == ENOENT) return std::nullopt;
    throw std::runtime_error(std::strerror(errno));
}

std::string dump(const nlohmann::json& value) {
    // Replace invalid UTF-8 rather than throw: a setting must never take the program down.
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
}  // namespace

// The writes of one settings file and its deferred file, in order, on a thread of its own.
class UserDefaults::Writes {
  public:
    Writes(UserDefaults& owner, MainQueue* mainQueue, ThreadStarter startThread)
        : owner_(owner), mainQueue_(mainQueue), startThread_(std::move(startThread)) {
        gate_->writes = this;
    }
    ~Writes() {
        {
            std::lock_guard lock(gate_->mutex);
            gate_->writes = nullptr;
        }
        std::unique_lock lock(mutex_);
        ending_ = true;
        if (retry_) mainQueue_->cancel(*retry_);
        // The last chance of a forced write that failed.
        if (failed_) pending_.push_back(*std::move(failed_));
        failed_.reset();
        if (!thread_.joinable()) {
            drain(lock);
            return;
        }
        lock.unlock();
        changed_.notify_all();
        thread_.join();
    }

    // Behind a write under way, replaces a write of the same file waiting there: the text
    // asked last wins, and a disk that does not answer holds two texts at most.
    void add(std::filesystem::path file, std::string text, Durability durability) {
        std::unique_lock lock(mutex_);
        if (writing_)
            std::erase_if(pending_, [&](const Write& write) { return write.file == file; });
        // A forced write carries every value: one that failed before has nothing left to say.
        if (durability == Durability::forced) failed_.reset();
        pending_.push_back({std::move(file), std::move(text), durability});
        start(lock);
    }

    void flush() {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) drain(lock);
        changed_.wait(lock, [this] { return pending_.empty() && !writing_; });
    }

    // Whether a forced write failed since last asked: the settings file is older than believed.
    bool failedForced() { return failedForced_.exchange(false); }

  private:
    struct Write {
        std::filesystem::path file;
        std::string text;
        Durability durability;
    };
    // What a retry timer reaches, until the writes end.
    struct Gate {
        std::mutex mutex;
        Writes* writes = nullptr;
    };

    // Mutex held. Starts the thread the writes go on, or, when none can be started, makes them
    // here.
    void start(std::unique_lock<std::mutex>& lock) {
        if (thread_.joinable()) {
            lock.unlock();
            changed_.notify_all();
            return;
        }
        try {
            auto run = [this] {
                std::unique_lock lock(mutex_);
                for (;;) {
                    changed_.wait(lock,
                                  [this] { return (!pending_.empty() && !writing_) || ending_; });
                    if (pending_.empty()) return;
                    drain(lock);
                }
            };
            thread_ = startThread_ ? startThread_(run) : std::thread(run);
        } catch (const std::exception& error) {
            Log::error("defaults",
                       std::string("no thread for the settings' writes: ") + error.what());
            drain(lock);
        }
    }

    // Mutex held. Makes the writes waiting, unless another thread is making them.
    void drain(std::unique_lock<std::mutex>& lock) {
        while (!pending_.empty() && !writing_) {
            Write write = std::move(pending_.front());
            pending_.pop_front();
            writing_ = true;
            lock.unlock();
            bool written = true;
            try {
                owner_.write(write.file, write.text, write.durability);
            } catch (const std::exception& error) {
                written = false;
                Log::error("defaults", std::string("cannot save settings: ") + error.what());
            }
            lock.lock();
            writing_ = false;
            if (write.durability == Durability::forced && written) delay_ = retryDelay;
            if (write.durability == Durability::forced && !written) failed(std::move(write));
            changed_.notify_all();
        }
    }

    // Mutex held. Keeps a forced write that failed for its retry, unless a later one waits.
    void failed(Write write) {
        failedForced_ = true;
        const bool superseded = std::any_of(pending_.begin(), pending_.end(), [&](const Write& w) {
            return w.durability == Durability::forced;
        });
        if (superseded) return;
        failed_ = std::move(write);
        if (!mainQueue_ || retry_ || ending_) return;
        retry_ = mainQueue_->schedule(delay_, [gate = gate_] {
            std::lock_guard lock(gate->mutex);
            if (gate->writes) gate->writes->retry();
        });
        delay_ = std::min<MainQueue::Duration>(delay_ * 2, longestRetryDelay);
    }

    void retry() {
        std::unique_lock lock(mutex_);
        retry_.reset();
        if (!failed_) return;
        pending_.push_back(*std::move(failed_));
        failed_.reset();
        start(lock);
    }

    UserDefaults& owner_;
    MainQueue* const mainQueue_;
    const ThreadStarter startThread_;
    const std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Write> pending_;
    bool writing_ = false;
    bool ending_ = false;
    std::atomic<bool> failedForced_{false};
    // The last forced write, while it failed and none came after it; its retry on the main queue.
    std::optional<Write> failed_;
    std::optional<MainQueue::TimerId> retry_;
    MainQueue::Duration delay_ = retryDelay;
    std::thread thread_;
};

UserDefaults::UserDefaults(std::filesystem::path file, Writer write, MainQueue* mainQueue,
                           ThreadStarter startThread)
    : file_(std::move(file)),
      write_(std::move(write)),
      writes_(std::make_unique<Writes>(*this, mainQueue, std::move(startThread))) {
    removeLeftTemporaries();
    load();
}

UserDefaults::~UserDefaults() {
    // Waits for the last write, before anything it uses goes.
    writes_.reset();
}

void UserDefaults::flush() { writes_->flush(); }

void UserDefaults::removeLeftTemporaries() const {
    // Named as AtomicFileWriter names them, beside the file a link leads to: the file's name,
    // ".tmp-" and six characters.
    for (const auto& file : {file_, deferredFile()}) {
        const auto written = AtomicFileWriter::destinationOf(file);
        const std::string prefix = written.filename().string() + ".tmp-";
        std::error_code error;
        const auto folder = written.has_parent_path() ? written.parent_path() : ".";
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) continue;
            if (::unlink(it->path().c_str()) == 0)
                Log::info("defaults", "removed a write left unfinished: " + name);
        }
    }
}

std::filesystem::path UserDefaults::deferredFile() const {
    auto file = file_;
    file += ".deferred";
    return file;
}

void UserDefaults::load() {
    std::optional<std::string> text;
    nlohmann::json parsed = nlohmann::json::object();
    std::string unreadable;
    try {
        text = readText(file_);
        // Bounded: a value nested too deep would overflow the stack on the next save.
        if (text) parsed = BoundedJson::parse(*text);
        if (!parsed.is_object()) unreadable = "not a JSON object";
    } catch (const std::exception& error) {
        unreadable = error.what();
    }
    if (!unreadable.empty()) {
        auto aside = file_;
        aside += ".corrupt";
        std::error_code ec;
        std::filesystem::rename(file_, aside, ec);
        Log::error("defaults", "settings file unreadable (" + unreadable + "), moved aside to " +
                                   aside.string() +
                                   (ec ? " (move failed: " + ec.message() + ")" : ""));
        digest_ = digestOf("");
        return;
    }
    digest_ = digestOf(text.value_or(""));
    values_ = std::move(parsed);
    loadDeferred(digest_);
}

void UserDefaults::loadDeferred(const std::string& digest) {
    std::optional<std::string> text;
    try {
        text = readText(deferredFile());
    } catch (const std::exception& error) {
        // As one a power cut emptied: the values last forced hold.
        Log::error("defaults",
                   "deferred settings unreadable (" + std::string(error.what()) + "), ignored");
        return;
    }
    if (!text) return;
    auto parsed = BoundedJson::parse(*text);
    auto over = parsed.find("over");
    auto values = parsed.find("values");
    if (!parsed.is_object() || over == parsed.end() || values == parsed.end() ||
        !values->is_object() || *over != digest) {
        // Emptied by a power cut, or left from before the settings were last written.
        return;
    }
    for (auto& [key, value] : values->items()) {
        values_[key] = value;
        deferredKeys_.insert(key);
    }
}

std::optional<bool> UserDefaults::boolValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}

std::optional<std::int64_t> UserDefaults::integerValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    if (it->is_number_integer() && !it->is_number_unsigned()) return it->get<std::int64_t>();
    if (it->is_number_unsigned() && it->get<std::uint64_t>() <= std::uint64_t(INT64_MAX))
        return std::int64_t(it->get<std::uint64_t>());
    return std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::optional<std::string> UserDefaults::stringValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<Bytes> UserDefaults::dataValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end() || !isDataValue(*it)) return std::nullopt;
    return Base64::decode((*it)[dataKey].get<std::string>());
}

std::optional<std::vector<std::string>> UserDefaults::stringListValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_array()) return std::nullopt;
    std::vector<std::string> list;
    list.reserve(it->size());
    for (const auto& element : *it) {
        if (!element.is_string()) return std::nullopt;
        list.push_back(element.get<std::string>());
    }
    return list;
}

bool UserDefaults::contains(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

void UserDefaults::setBool(const std::string& key, bool value) { store(key, value); }
void UserDefaults::setInteger(const std::string& key, std::int64_t value) { store(key, value); }
void UserDefaults::setDouble(const std::string& key, double value) { store(key, value); }
void UserDefaults::setString(const std::string& key, const std::string& value) {
    store(key, value);
}
void UserDefaults::setData(const std::string& key, const Bytes& value, Durability durability) {
    store(key, nlohmann::json{{dataKey, Base64::encode(value)}}, durability);
}

void UserDefaults::setStringList(const std::string& key, const std::vector<std::string>& value) {
    store(key, nlohmann::json(value));
}

void UserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key) > 0) save();
}

void UserDefaults::store(const std::string& key, nlohmann::json value, Durability durability) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it != values_.end() && *it == value && it->type() == value.type()) return;
    values_[key] = std::move(value);
    // A deferred file names the settings file it completes: while that one failed to be
    // written, the values go to the disk whole again.
    if (durability == Durability::deferred && !writes_->failedForced()) {
        deferredKeys_.insert(key);
        saveDeferred();
    } else {
        save();
    }
}

void UserDefaults::write(const std::filesystem::path& file, std::string_view text,
                         Durability durability) {
    const auto target = AtomicFileWriter::destinationOf(file);
    if (target == file) return writeAt(file, text, durability, 0600);
    struct stat info {};
    const unsigned mode = ::stat(target.c_str(), &info) == 0 ? info.st_mode & 07777 : 0600;
    try {
        writeAt(target, text, durability, mode);
    } catch (const std::system_error& error) {
        const int code = error.code().value();
        if (error.code().category() != std::generic_category() ||
            (code != EACCES && code != EPERM && code != EROFS))
            throw;
        // Kept there, the change would be lost at the next start; the file linked is left as
        // it was, and the settings go on in a file of their own.
        Log::error("defaults", "cannot write " + target.string() + " (" + error.what() +
                                   "); the link " + file.string() +
                                   " is replaced by a file holding the settings");
        writeAt(file, text, durability, 0600);
    }
}

void UserDefaults::writeAt(const std::filesystem::path& path, std::string_view text,
                           Durability durability, unsigned mode) {
    if (write_)
        write_(path, text, durability);
    else
        writeFileAtomically(path, text, mode, durability, false);
}

void UserDefaults::save() {
    auto text = dump(values_);
    // The deferred values go with it; their file then names a settings file that is gone.
    digest_ = digestOf(text);
    deferredKeys_.clear();
    writes_->add(file_, std::move(text), Durability::forced);
}

void UserDefaults::saveDeferred() {
    nlohmann::json values = nlohmann::json::object();
    for (const auto& key : deferredKeys_)
        if (auto it = values_.find(key); it != values_.end()) values[key] = *it;
    nlohmann::json file = nlohmann::json::object();
    file["over"] = digest_;
    file["values"] = std::move(values);
    writes_->add(deferredFile(), dump(file), Durability::deferred);
}

}  // namespace velto
