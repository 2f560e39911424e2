#include "sources/resolving/PlaybackURLResolving.h"

#include "sources/model/SourceError.h"

namespace velto {

void PlaybackURLResolving::requirePlaybackSupport(MusicSource source) const {
    if (supportsPlayback(source)) return;
    requireEnabled(source);
    throw SourceError::source("当前播放解析器不支持此音源");
}

}  // namespace velto
