// The settings file as it lies on disk, whatever wrote it, and the JSON and Base64 coders that
// settings and stored songs pass through.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "FuzzCheck.h"
#include "foundation/text/Base64.h"
#include "foundation/text/JsonWriter.h"
#include "foundation/Log.h"
#include "foundation/files/UserDefaults.h"

using namespace velto;

namespace {

std::filesystem::path folder;

// nlohmann's own UTF-8 check, as a second opinion.
bool isUTF8(std::string_view text) {
    try {
        (void)nlohmann::json(std::string(text)).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

void readEverything(const UserDefaults& defaults, const std::string& key) {
    (void)defaults.contains(key);
    (void)defaults.boolValue(key);
    (void)defaults.integerValue(key);
    (void)defaults.doubleValue(key);
    (void)defaults.stringValue(key);
    (void)defaults.dataValue(key);
}

void defaultsFile(std::string_view input) {
    auto file = folder / "settings.json";
    std::error_code ec;
    std::filesystem::remove(file, ec);
    std::filesystem::remove(folder / "settings.json.corrupt", ec);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(input.data(), std::streamsize(input.size()));
    }

    UserDefaults defaults(file);
    auto parsed = nlohmann::json::parse(input, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
        int budget = 32;
        for (const auto& item : parsed.items()) {
            if (--budget < 0) break;
            readEverything(defaults, item.key());
            // A stored integer always reads as a double too.
            if (defaults.integerValue(item.key())) FUZZ_CHECK(defaults.doubleValue(item.key()));
        }
    }
    for (const char* key : {"velto.playback.session", "playbackMode", "macPlaybackVolume",
                            "velto.netease.cookie", "preferredPlaybackQuality"})
        readEverything(defaults, key);

    // What is written after any start reads back, in this run and the next.
    std::string text = isUTF8(input) ? std::string(input) : "value";
    defaults.setString("velto.fuzz.text", text);
    defaults.setData("velto.fuzz.data", Bytes(input.begin(), input.end()));
    defaults.flush();  // writes land on a thread of their own
    UserDefaults reopened(file);
    FUZZ_CHECK(reopened.stringValue("velto.fuzz.text") == text);
    FUZZ_CHECK(reopened.dataValue("velto.fuzz.data") == Bytes(input.begin(), input.end()));
}

void sortedJSON(std::string_view input) {
    // Any bytes as one text: refused as invalid UTF-8, or written so they read back the same.
    try {
        auto written = writeSortedJSON(nlohmann::json(std::string(input)));
        FUZZ_CHECK(isUTF8(input));
        FUZZ_CHECK(nlohmann::json::parse(written) == std::string(input));
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!isUTF8(input));
    }

    auto value = nlohmann::json::parse(input, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return;
    auto written = writeSortedJSON(value);
    auto reread = nlohmann::json::parse(written);
    FUZZ_CHECK(reread == value);
    FUZZ_CHECK(writeSortedJSON(reread) == written);
}

void base64(std::string_view input) {
    auto encoded = Base64::encode(input);
    auto decoded = Base64::decode(encoded);
    FUZZ_CHECK(decoded && std::string(decoded->begin(), decoded->end()) == input);

    if (auto bytes = Base64::decode(input)) {
        FUZZ_CHECK(bytes->size() == input.size() / 4 * 3 - (input.ends_with("==")  ? 2
                                                            : input.ends_with('=') ? 1
                                                                                   : 0));
        FUZZ_CHECK(Base64::decode(Base64::encode(*bytes)) == bytes);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = fuzz::scratchFolder("defaults");
    // A corrupt settings file is the expected case here, not news.
    Log::setSink([](Log::Level, std::string_view, std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto input = fuzz::text(data, size);
    defaultsFile(input);
    sortedJSON(input);
    base64(input);
    return 0;
}
