#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/AtomicFile.h"

namespace velto {

using Bytes = std::vector<std::uint8_t>;

// Typed settings kept in one JSON file, rewritten atomically on every change. A value stored
// with another type reads as absent; a file that cannot be read is moved aside and logged.
class UserDefaults {
public:
    // Replaces the file whole; writeFileAtomically unless a test watches the writes.
    using Writer =
        std::function<void(const std::filesystem::path&, std::string_view, Durability)>;

    explicit UserDefaults(std::filesystem::path file, Writer write = {});

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

private:
    void load();
    void store(const std::string& key, nlohmann::json value,
               Durability durability = Durability::forced);
    void save(Durability durability = Durability::forced);  // mutex held

    std::filesystem::path file_;
    Writer write_;
    mutable std::mutex mutex_;
    nlohmann::json values_ = nlohmann::json::object();
};

}  // namespace velto
