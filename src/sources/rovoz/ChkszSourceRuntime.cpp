#include "sources/rovoz/ChkszSourceRuntime.h"

#include <cctype>
#include <filesystem>

#include "foundation/files/AbandonableWork.h"
#include "foundation/Log.h"
#include "foundation/files/RegularFile.h"
#include "sources/rovoz/ChkszMediaURL.h"
#include "sources/model/SourceError.h"

namespace velto {

namespace {

// A lyrics file is a few kilobytes; anything this large is not one.
constexpr std::size_t largestLyricFile = std::size_t{16} << 20;

std::string localPath(const Track& track) {
    const auto payload = track.rawPayload();
    if (payload->is_object()) {
        if (const auto found = payload->find("filePath");
            found != payload->end() && found->is_string()) {
            return found->get<std::string>();
        }
    }
    return track.songmid;
}

bool isUTF8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t point = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, point = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string fileURL(const std::string& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    const std::string text = error ? path : absolute.lexically_normal().string();
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) ||
            std::string_view("-._~/!$&'()*+,;=:@").find(c) != std::string_view::npos) {
            url += c;
        } else {
            url += '%';
            url += digits[byte >> 4];
            url += digits[byte & 0x0F];
        }
    }
    return url;
}

// The first text among the payload's cover fields, present-but-other values passed over.
std::optional<std::string> coverText(const nlohmann::json& payload) {
    if (!payload.is_object()) return std::nullopt;
    for (const char* key : {"picUrl", "img"}) {
        if (const auto found = payload.find(key); found != payload.end() && found->is_string()) {
            return found->get<std::string>();
        }
    }
    for (const char* key : {"al", "album"}) {
        const auto object = payload.find(key);
        if (object == payload.end() || !object->is_object()) continue;
        if (const auto found = object->find("picUrl");
            found != object->end() && found->is_string()) {
            return found->get<std::string>();
        }
    }
    return std::nullopt;
}

}  // namespace

ChkszSourceRuntime::ChkszSourceRuntime(std::shared_ptr<SourceRuntime> /*qq*/,
                                       std::shared_ptr<ChkszNetEaseProviding> netease,
                                       std::shared_ptr<ChkszKugouProviding> /*kugou*/)
    : netease_(std::move(netease)) {}

ChkszSourceRuntime::ChkszSourceRuntime(std::shared_ptr<ChkszNetEaseProviding> netease)
    : netease_(std::move(netease)) {}

SearchPage ChkszSourceRuntime::search(const std::string& query, MusicSource source, int page,
                                      std::stop_token stop) {
    requireEnabled(source);
    return netease_->search(query, page, pageSize, stop);
}

LyricInfo ChkszSourceRuntime::lyric(const Track& track, std::stop_token stop) {
    if (track.source == MusicSource::local) return resolveLocalLyric(track, stop);
    requireEnabled(track.source);
    return netease_->lyric(track, stop);
}

std::string ChkszSourceRuntime::picURL(const Track& track, std::stop_token /*stop*/) {
    if (track.source == MusicSource::local) return fileURL(localPath(track));
    requireEnabled(track.source);
    const auto text = coverText(*track.rawPayload());
    if (!text) throw SourceError::source("网易云歌曲暂无封面");
    auto address = chkszMediaURL(*text);
    if (!address) throw SourceError::source("网易云歌曲暂无封面");
    return *address;
}

std::vector<std::string> ChkszSourceRuntime::tipSearch(const std::string& /*query*/,
                                                       std::stop_token /*stop*/) {
    return {};
}

Track ChkszSourceRuntime::trackDetail(const Track& track, std::stop_token /*stop*/) {
    requireEnabled(track.source);
    return track;
}

LyricInfo ChkszSourceRuntime::resolveLocalLyric(const Track& track, std::stop_token stop) {
    LyricInfo info;
    const std::string path = localPath(track);
    if (path.empty()) return info;
    const auto lyricPath = std::filesystem::path(path).replace_extension("lrc");
    std::optional<std::string> text;
    try {
        // The song may sit on a share that stopped answering: a stop or the bound frees this
        // worker then.
        text = AbandonableWork::shared().run<std::optional<std::string>>(
            stop, [lyricPath](std::stop_token stop) {
                return RegularFile::read(lyricPath, largestLyricFile, true, stop);
            },
            lyricPath);
    } catch (const AbandonableWork::Busy& busy) {
        Log::info("sources", std::string("local lyric not read: ") + busy.what());
        return info;
    }
    if (!text || !isUTF8(*text)) return info;
    info.lyric = std::move(*text);
    return info;
}

}  // namespace velto
