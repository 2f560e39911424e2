#include "playback/LocalAudioScanner.h"

#include <fcntl.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <system_error>

#include "foundation/Cancellation.h"
#include "foundation/JsonWriter.h"
#include "foundation/UnicodeTrim.h"

namespace velto::LocalAudioScanner {

namespace fs = std::filesystem;

namespace {

bool isHidden(const fs::path& path) {
    const auto name = path.filename().native();
    return !name.empty() && name.front() == '.';
}

void collectFolder(const fs::path& folder, std::vector<fs::path>& files,
                   const std::stop_token& stop) {
    throwIfCancelled(stop);
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return;
        const auto& entry = *it;
        if (isHidden(entry.path())) continue;
        std::error_code statusError;
        // Links to folders are not followed, so a link back up the tree cannot loop.
        if (entry.symlink_status(statusError).type() == fs::file_type::directory) {
            collectFolder(entry.path(), files, stop);
        } else if (isAudioFile(entry.path())) {
            files.push_back(entry.path());
        }
    }
}

// Opening for reading is what playback will do later; a file that refuses it is no song.
bool isReadableFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// The last non-empty value of a tag, trimmed.
std::optional<std::string> lastValue(const TagLib::PropertyMap& properties, const char* key) {
    auto found = properties.find(key);
    if (found == properties.end()) return std::nullopt;
    std::optional<std::string> result;
    for (const auto& value : found->second) {
        auto text = std::string(UnicodeTrim::trimBlanksAndNewlines(value.to8Bit(true)));
        if (!text.empty()) result = std::move(text);
    }
    return result;
}

}  // namespace

const std::set<std::string>& supportedExtensions() {
    static const std::set<std::string> extensions{"mp3",  "flac", "m4a",  "wav", "aac",
                                                  "aiff", "aif",  "alac", "ogg"};
    return extensions;
}

bool isAudioFile(const fs::path& path) {
    auto extension = path.extension().string();
    if (extension.size() < 2) return false;
    extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return supportedExtensions().contains(extension);
}

std::optional<std::string> intervalText(double seconds) {
    if (!std::isfinite(seconds)) return std::nullopt;
    const double whole = std::trunc(seconds);
    if (whole < 1) return std::nullopt;
    const auto total = static_cast<std::int64_t>(whole);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02d", static_cast<long long>(total / 60),
                  static_cast<int>(total % 60));
    return std::string(text);
}

std::optional<Track> track(const fs::path& given) {
    std::error_code ec;
    if (!fs::exists(given, ec) || !isReadableFile(given)) return std::nullopt;
    auto path = fs::absolute(given, ec);
    if (ec) path = given;
    path = path.lexically_normal();
    // Songs are stored and shown as UTF-8 text; a path in another encoding cannot round-trip.
    if (!isValidUTF8(path.string())) return std::nullopt;

    Track song;
    song.source = MusicSource::local;
    song.songmid = path.string();
    song.title = path.stem().string();
    song.artist = "本地音乐";
    song.album = path.parent_path().filename().string();

    TagLib::FileRef file(path.c_str(), true, TagLib::AudioProperties::Average);
    if (!file.isNull()) {
        const auto properties = file.file()->properties();
        if (auto title = lastValue(properties, "TITLE")) song.title = *title;
        if (auto artist = lastValue(properties, "ARTIST")) song.artist = *artist;
        if (auto album = lastValue(properties, "ALBUM")) song.album = *album;
        if (auto* audio = file.audioProperties())
            song.interval = intervalText(audio->lengthInMilliseconds() / 1000.0);
    }

    auto size = fs::file_size(path, ec);
    nlohmann::json payload{{"filePath", song.songmid},
                           {"filename", path.filename().string()},
                           {"fileSize", ec ? std::uintmax_t{0} : size}};
    song.payload = writeSortedJSON(payload);
    return song;
}

std::vector<Track> scan(const std::vector<fs::path>& paths, std::stop_token stop) {
    std::vector<fs::path> files;
    for (const auto& path : paths) {
        throwIfCancelled(stop);
        std::error_code ec;
        const auto status = fs::status(path, ec);
        if (ec || !fs::exists(status)) continue;
        if (fs::is_directory(status))
            collectFolder(path, files, stop);
        else if (isAudioFile(path))
            files.push_back(path);
    }
    std::vector<Track> songs;
    for (const auto& file : files) {
        throwIfCancelled(stop);
        if (auto song = track(file)) songs.push_back(std::move(*song));
    }
    return songs;
}

}  // namespace velto::LocalAudioScanner
