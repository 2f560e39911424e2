#include "foundation/files/UserDefaults.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "foundation/files/AtomicFile.h"
#include "foundation/text/Base64.h"
#include "foundation/text/BoundedJson.h"
#include "foundation/Log.h"

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

std::optional<std::string> readText(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string dump(const nlohmann::json& value) {
    // Replace invalid UTF-8 rather than throw: a setting must never take the program down.
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file, Writer write)
    : file_(std::move(file)), write_(std::move(write)) {
    load();
}

std::filesystem::path UserDefaults::deferredFile() const {
    auto file = file_;
    file += ".deferred";
    return file;
}

void UserDefaults::load() {
    auto text = readText(file_);
    digest_ = digestOf(text.value_or(""));
    if (text) {
        // Bounded: a value nested too deep would overflow the stack on the next save.
        auto parsed = BoundedJson::parse(*text);
        if (!parsed.is_object()) {
            auto aside = file_;
            aside += ".corrupt";
            std::error_code ec;
            std::filesystem::rename(file_, aside, ec);
            Log::error("defaults", "settings file unreadable, moved aside to " + aside.string() +
                                       (ec ? " (move failed: " + ec.message() + ")" : ""));
            digest_ = digestOf("");
            return;
        }
        values_ = std::move(parsed);
    }
    loadDeferred(digest_);
}

void UserDefaults::loadDeferred(const std::string& digest) {
    auto text = readText(deferredFile());
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
    if (durability == Durability::deferred) {
        deferredKeys_.insert(key);
        saveDeferred();
    } else {
        save();
    }
}

void UserDefaults::write(const std::filesystem::path& file, std::string_view text,
                         Durability durability) {
    if (write_)
        write_(file, text, durability);
    else
        writeFileAtomically(file, text, 0600, durability);
}

void UserDefaults::save() {
    try {
        auto text = dump(values_);
        write(file_, text, Durability::forced);
        // The deferred values went with it; their file now names a settings file that is gone.
        digest_ = digestOf(text);
        deferredKeys_.clear();
    } catch (const std::exception& error) {
        Log::error("defaults", std::string("cannot save settings: ") + error.what());
    }
}

void UserDefaults::saveDeferred() {
    try {
        nlohmann::json values = nlohmann::json::object();
        for (const auto& key : deferredKeys_)
            if (auto it = values_.find(key); it != values_.end()) values[key] = *it;
        nlohmann::json file = nlohmann::json::object();
        file["over"] = digest_;
        file["values"] = std::move(values);
        write(deferredFile(), dump(file), Durability::deferred);
    } catch (const std::exception& error) {
        Log::error("defaults", std::string("cannot save settings: ") + error.what());
    }
}

}  // namespace velto
