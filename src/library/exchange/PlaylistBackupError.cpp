#include "library/exchange/PlaylistBackupError.h"

#include <string>

namespace velto {

PlaylistBackupError::PlaylistBackupError(Kind kind)
    : std::runtime_error(std::string(description(kind))), kind_(kind) {}

std::string_view PlaylistBackupError::description(Kind kind) {
    switch (kind) {
        case Kind::invalidFile:
            return "无法读取歌单备份，请选择 Velto 导出的 JSON 文件";
        case Kind::unsupportedVersion:
            return "此备份版本暂不支持，请更新 Velto 后再试";
        case Kind::tooLarge:
            return "备份文件过大，请选择不超过 10 MB 的歌单备份";
        case Kind::invalidTrack:
            return "备份包含不完整或无效的歌曲信息，未导入任何歌曲";
        case Kind::pendingChanges:
            return "歌单还有未保存的更改，请稍后重试导入";
        case Kind::saveFailed:
            return "歌单保存失败，已撤销此次导入，请稍后重试";
    }
    return {};
}

}  // namespace velto
