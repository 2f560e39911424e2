#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sources/model/JsonReading.h"

namespace velto::NetEaseReplyReading {

// The member `key` of an object when it is an object; null otherwise.
inline const nlohmann::json* objectAt(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it != object.end() && it->is_object() ? &*it : nullptr;
}

// The member `key` when it is a list whose elements are all objects; none otherwise (a list
// holding anything else counts as missing).
inline std::optional<std::vector<const nlohmann::json*>> objectListAt(const nlohmann::json& object,
                                                                      std::string_view key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end() || !it->is_array()) return std::nullopt;
    std::vector<const nlohmann::json*> list;
    list.reserve(it->size());
    for (const auto& element : *it) {
        if (!element.is_object()) return std::nullopt;
        list.push_back(&element);
    }
    return list;
}

inline std::vector<const nlohmann::json*> objectsAt(const nlohmann::json& object,
                                                    std::string_view key) {
    return objectListAt(object, key).value_or(std::vector<const nlohmann::json*>{});
}

// The member `key` when it is a text.
inline std::optional<std::string> textAt(const nlohmann::json& object, std::string_view key) {
    return readText(object, key);
}

// The member `key`, or null when absent (for the integer reading).
inline const nlohmann::json* memberAt(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it != object.end() ? &*it : nullptr;
}

}  // namespace velto::NetEaseReplyReading
