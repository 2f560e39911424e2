#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "foundation/files/AtomicFile.h"

namespace velto {

class MainQueue;

using Bytes = std::vector<std::uint8_t>;

// Typed settings kept in one JSON file, rewritten atomically and forced to the disk on every
// change, so a power cut at any moment leaves it whole. A value stored with another type reads
// as absent; a file that cannot be settings (unreadable, not JSON, not a regular file, larger
// than any settings) is moved aside and logged. Temporary files a killed write left beside the
// settings are removed when they are opened.
//
// The writes go to the disk on a thread of their own, one after another in the order of the
// changes; of several changes made while a write is under way, the next write carries the
// last. When no thread can be started, the change is written where it was made. A forced write
// that failed (a full disk) is made again after `retryDelay` on the main queue, when given one,
// at the next change, and at the end of the settings, which waits for the last write.
//
// Where the file is a symbolic link (settings kept with other dotfiles and linked into place),
// the writes replace the file it leads to, which stays linked and keeps its permission bits.
// When that file cannot be replaced (its folder is not the user's to write, its file system is
// read-only), the link itself is replaced by a file of the settings' own: the file it led to
// stays as it was, and no change is lost at the next start.
//
// A value set `deferred` (one rewritten often, whose last seconds a power cut may take back) is
// written, without forcing, to a file of its own beside the settings ("<file>.deferred"), which
// names the settings file it completes by a digest of its text. It is read over the settings
// only while it names the settings file that is there and reads whole: a power cut that empties
// it, or a later forced write, brings back the value last forced instead. The next forced write
// carries the deferred values into the settings file.
class UserDefaults {
public:
    // Replaces the file at the path whole, a link there included (never what it leads to);
    // writeFileAtomically unless a test watches the writes.
    using Writer =
        std::function<void(const std::filesystem::path&, std::string_view, Durability)>;
    // Starts a thread running `work`, or throws std::system_error when none can be started;
    // std::thread unless a test refuses threads.
    using ThreadStarter = std::function<std::thread(std::function<void()> work)>;

    // Long enough for a disk to be given room, short enough that little waits unwritten; a
    // further failure waits twice as long, up to `longestRetryDelay`.
    static constexpr std::chrono::seconds retryDelay{5};
    static constexpr std::chrono::seconds longestRetryDelay{300};

    explicit UserDefaults(std::filesystem::path file, Writer write = {},
                          MainQueue* mainQueue = nullptr, ThreadStarter startThread = {});
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<std::int64_t> integerValue(const std::string& key) const;
    // Integers read as doubles too.
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<Bytes> dataValue(const std::string& key) const;
    // Absent unless the value is a list whose every element is text.
    std::optional<std::vector<std::string>> stringListValue(const std::string& key) const;
    bool contains(const std::string& key) const;

    void setBool(const std::string& key, bool value);
    void setInteger(const std::string& key, std::int64_t value);
    void setDouble(const std::string& key, double value);
    void setString(const std::string& key, const std::string& value);
    // `deferred` for a value rewritten often whose last few seconds a power cut may take back.
    void setData(const std::string& key, const Bytes& value,
                 Durability durability = Durability::forced);
    void setStringList(const std::string& key, const std::vector<std::string>& value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }
    std::filesystem::path deferredFile() const;

    // Waits until every change made so far is written.
    void flush();

private:
    class Writes;

    void removeLeftTemporaries() const;
    void load();
    void loadDeferred(const std::string& digest);
    void store(const std::string& key, nlohmann::json value,
               Durability durability = Durability::forced);
    // Mutex held.
    void save();
    void saveDeferred();
    void write(const std::filesystem::path& file, std::string_view text, Durability durability);
    void writeAt(const std::filesystem::path& path, std::string_view text, Durability durability,
                 unsigned mode);

    std::filesystem::path file_;
    Writer write_;
    std::unique_ptr<Writes> writes_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
    // The digest of the settings file as last read or written, and the keys set deferred since.
    std::string digest_;
    std::set<std::string> deferredKeys_;
};

}  // namespace velto
