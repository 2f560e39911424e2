#include "library/OnlinePlaylistPreview.h"

#include "library/PlaylistBackup.h"

namespace velto {

std::string OnlinePlaylistPreview::backupData() const { return PlaylistBackup::encode(name, tracks); }

}  // namespace velto
