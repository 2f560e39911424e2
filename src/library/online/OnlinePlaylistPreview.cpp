#include "library/online/OnlinePlaylistPreview.h"

#include "library/exchange/PlaylistBackup.h"

namespace velto {

std::string OnlinePlaylistPreview::backupData() const { return PlaylistBackup::encode(name, tracks); }

}  // namespace velto
