#include "playback/LocalAudioScanner.h"

#include <fcntl.h>
#include <taglib/fileref.h>
#include <taglib/mpegfile.h>
#include <taglib/oggfile.h>
#include <taglib/oggpageheader.h>
#include <taglib/tpropertymap.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>

#include "foundation/Cancellation.h"
#include "foundation/text/JsonWriter.h"
#include "foundation/text/UnicodeTrim.h"
#include "platform/LocalAudioReadStream.h"
#include "playback/MPEGFrameCount.h"

namespace velto::LocalAudioScanner {

namespace fs = std::filesystem;

namespace {

bool isHidden(const fs::path& path) {
    const auto name = path.filename().native();
    return !name.empty() && name.front() == '.';
}

// Numbers compare as numbers ("track2" before "track10"), letters without regard to case, as a
// file manager lists them; the bytes decide what is still equal, so the order never depends on
// the order the file system returns. Negative when `a` comes first, 0 only for equal bytes.
int compareNames(std::string_view a, std::string_view b) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, j = 0;
    int zeros = 0;  // leading zeros decide between equal numbers: "2" before "02"
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && digit(a[endA])) ++endA;
            while (endB < b.size() && digit(b[endB])) ++endB;
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0') ++startA;
            while (startB + 1 < endB && b[startB] == '0') ++startB;
            const std::size_t lengthA = endA - startA, lengthB = endB - startB;
            if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
            if (int order = a.substr(startA, lengthA).compare(b.substr(startB, lengthB)))
                return order;
            if (zeros == 0 && endA - i != endB - j) zeros = endA - i < endB - j ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        const auto lowerA = std::tolower(static_cast<unsigned char>(a[i]));
        const auto lowerB = std::tolower(static_cast<unsigned char>(b[j]));
        if (lowerA != lowerB) return lowerA < lowerB ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return j < b.size() ? -1 : 1;
    if (zeros != 0) return zeros;
    return a.compare(b);
}

void collectFolder(const fs::path& folder, std::vector<fs::path>& files,
                   const std::stop_token& stop) {
    throwIfCancelled(stop);
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return;
    struct Entry {
        fs::path path;
        // A file's name without its extension is compared first ("track3.mp3" before
        // "track3-1.mp3"), then the extension.
        std::string name;
        std::string extension;
        bool folder;
    };
    std::vector<Entry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        throwIfCancelled(stop);
        const auto& entry = *it;
        if (isHidden(entry.path())) continue;
        std::error_code statusError;
        // Links to folders are not followed, so a link back up the tree cannot loop.
        const bool isFolder = entry.symlink_status(statusError).type() == fs::file_type::directory;
        if (isFolder)
            entries.push_back({entry.path(), entry.path().filename().string(), {}, true});
        else if (isAudioFile(entry.path()))
            entries.push_back({entry.path(), entry.path().stem().string(),
                               entry.path().extension().string(), false});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (int order = compareNames(a.name, b.name)) return order < 0;
        return compareNames(a.extension, b.extension) < 0;
    });
    for (auto& entry : entries) {
        if (entry.folder)
            collectFolder(entry.path, files, stop);
        else
            files.push_back(std::move(entry.path));
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

struct OggPage {
    long long granule = -1;
    unsigned serial = 0;
};

// The last whole page of an Ogg file, looked for from the end.
std::optional<OggPage> lastOggPage(TagLib::IOStream& stream) {
    constexpr long tail = 2 * 65307;  // two pages of the largest size
    const long length = stream.length();
    const long start = std::max(0L, length - tail);
    stream.seek(start);
    const TagLib::ByteVector bytes = stream.readBlock(static_cast<unsigned long>(length - start));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const long size = static_cast<long>(bytes.size());
    for (long at = size - 27; at >= 0; --at) {
        if (std::memcmp(data + at, "OggS", 4) != 0 || data[at + 4] != 0) continue;
        const long segments = data[at + 26];
        if (at + 27 + segments > size) continue;
        long end = at + 27 + segments;
        for (long i = 0; i < segments; ++i) end += data[at + 27 + i];
        if (end > size) continue;
        OggPage page;
        page.granule = 0;
        for (int i = 7; i >= 0; --i) page.granule = (page.granule << 8) | data[at + 6 + i];
        for (int i = 3; i >= 0; --i) page.serial = (page.serial << 8) | data[at + 14 + i];
        return page;
    }
    return std::nullopt;
}

// TagLib 1.13 misses an "OggS" that starts one byte into one of the 1 KiB blocks it reads
// backwards from the end, takes the page before the last for the last one and reports the
// length a page short (62 s read as 60.864 s). The page it missed makes up the difference.
long long oggLengthCorrection(TagLib::Ogg::File& file, TagLib::IOStream& stream, int sampleRate) {
    const auto* taken = file.lastPageHeader();
    if (!taken || !taken->isValid() || sampleRate <= 0) return 0;
    auto last = lastOggPage(stream);
    if (!last || last->granule < 0 || last->serial != taken->streamSerialNumber()) return 0;
    const long long missed = last->granule - taken->absoluteGranularPosition();
    return missed > 0 ? missed * 1000 / sampleRate : 0;
}

// TagLib takes an MPEG stream without a VBR header for a steady one and reads its length from
// the first frame's bitrate; the frames themselves tell when that is wrong.
std::optional<double> mpegSeconds(TagLib::MPEG::File& file, TagLib::IOStream& stream) {
    const auto* properties = file.audioProperties();
    if (!properties || properties->xingHeader()) return std::nullopt;
    std::int64_t end = stream.length();
    if (file.hasID3v1Tag()) end -= 128;
    return MPEGFrameCount::seconds(stream, file.firstFrameOffset(), end);
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

std::optional<Track> track(const fs::path& given, std::stop_token stop) {
    throwIfCancelled(stop);
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

    {
        LocalAudioReadStream stream(path, stop);
        TagLib::FileRef file(&stream, true, TagLib::AudioProperties::Average);
        if (!file.isNull()) {
            const auto properties = file.file()->properties();
            if (auto title = lastValue(properties, "TITLE")) song.title = *title;
            if (auto artist = lastValue(properties, "ARTIST")) song.artist = *artist;
            if (auto album = lastValue(properties, "ALBUM")) song.album = *album;
            if (auto* audio = file.audioProperties()) {
                double seconds = audio->lengthInMilliseconds() / 1000.0;
                if (auto* ogg = dynamic_cast<TagLib::Ogg::File*>(file.file()))
                    seconds +=
                        double(oggLengthCorrection(*ogg, stream, audio->sampleRate())) / 1000;
                if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file.file()))
                    seconds = mpegSeconds(*mpeg, stream).value_or(seconds);
                song.interval = intervalText(seconds);
            }
        }
        if (stream.stopped()) throw CancellationError();
    }

    auto size = fs::file_size(path, ec);
    nlohmann::json payload{{"filePath", song.songmid},
                           {"filename", path.filename().string()},
                           {"fileSize", ec ? std::uintmax_t{0} : size}};
    song.payload = writeSortedJSON(payload);
    return std::move(song).bounded();
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
        if (auto song = track(file, stop)) songs.push_back(std::move(*song));
    }
    return songs;
}

}  // namespace velto::LocalAudioScanner
