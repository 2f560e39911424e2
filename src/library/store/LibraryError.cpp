#include "library/store/LibraryError.h"

namespace velto {

LibraryError::LibraryError(Kind kind) : std::runtime_error(description(kind)), kind_(kind) {}

const char* LibraryError::description(Kind kind) {
    switch (kind) {
        case Kind::emptyPlaylistName:
            return "歌单名称不能为空";
        case Kind::incompatiblePlaylistKind:
            return "音乐只能收藏到音乐歌单";
        case Kind::personalPlaylistImmutable:
            return "个人歌单不能删除";
        case Kind::systemPlaylistImmutable:
            return "系统歌单不能重命名或删除";
    }
    return "";
}

}  // namespace velto
