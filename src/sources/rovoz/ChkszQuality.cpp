#include "sources/rovoz/ChkszQuality.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "sources/rovoz/ChkszAPIClient.h"
#include "sources/model/JsonReading.h"

namespace velto {

namespace {

std::string lowercased(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

Quality qualityOfBitrate(std::int64_t bitsPerSecond) {
    if (bitsPerSecond >= 1'500'000) return Quality::hiRes;
    if (bitsPerSecond >= 700'000) return Quality::lossless;
    if (bitsPerSecond >= 300'000) return Quality::high;
    return Quality::standard;
}

}  // namespace

Quality chkszQuality(const nlohmann::json& record) {
    if (!record.is_object()) return Quality::standard;
    if (const auto bitrate = record.find("bitrate"); bitrate != record.end()) {
        if (bitrate->is_string()) {
            const std::string name = lowercased(trimmed(bitrate->get_ref<const std::string&>()));
            if (name == "master") return Quality::master;
            if (name == "hires" || name == "flac24bit" || name == "hi-res") return Quality::hiRes;
            if (name == "flac" || name == "lossless") return Quality::lossless;
            if (name == "320k") return Quality::high;
            if (name == "128k") return Quality::standard;
            // Bits per second written as text, untrimmed.
            if (auto number = ChkszAPIClient::integer(&*bitrate)) return qualityOfBitrate(*number);
        } else if (bitrate->is_number()) {
            if (auto number = ChkszAPIClient::integer(&*bitrate)) return qualityOfBitrate(*number);
        }
    }
    if (const auto format = record.find("format");
        format != record.end() && format->is_string() &&
        lowercased(format->get<std::string>()) == "flac") {
        return Quality::lossless;
    }
    return Quality::standard;
}

}  // namespace velto
