#include "library/online/OnlinePlaylistImportError.h"

#include <string>

namespace velto {

OnlinePlaylistImportError::OnlinePlaylistImportError(Kind kind)
    : std::runtime_error(std::string(description(kind))), kind_(kind) {}

std::string_view OnlinePlaylistImportError::description(Kind kind) {
    switch (kind) {
        case Kind::invalidInput:
            return "请粘贴网易云歌单分享链接，或输入有效的歌单 ID。";
        case Kind::unsupportedLink:
            return "当前仅支持网易云音乐的公开歌单链接，其他音源暂不可用。";
        case Kind::notPlaylistLink:
            return "未找到歌单 ID。请复制完整的歌单分享链接，歌曲和个人主页链接不能用于导入。";
        case Kind::unavailable:
            return "无法读取这个歌单。请确认歌单公开且仍然存在，或稍后重试。";
        case Kind::invalidResponse:
            return "歌单返回的数据不完整，请稍后重试。现有歌曲会保留。";
        case Kind::tooLarge:
            return "目前一次最多读取 5,000 首歌曲，请分成较小的歌单后导入。";
    }
    return {};
}

OnlinePlaylistJSONError::OnlinePlaylistJSONError()
    : std::runtime_error(
          std::string(OnlinePlaylistImportError::description(OnlinePlaylistImportError::Kind::invalidResponse))) {}

}  // namespace velto
