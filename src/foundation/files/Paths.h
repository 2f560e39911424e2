#pragma once

#include <filesystem>

namespace velto {

// The folders the program keeps its files in, after the XDG base directory rules.
namespace Paths {

std::filesystem::path homeDir();
std::filesystem::path configHome();     // $XDG_CONFIG_HOME or ~/.config
std::filesystem::path dataHome();       // $XDG_DATA_HOME or ~/.local/share
std::filesystem::path cacheHome();      // $XDG_CACHE_HOME or ~/.cache
std::filesystem::path documentsDir();   // $XDG_DOCUMENTS_DIR, user-dirs.dirs, or ~/Documents

// Velto's own folders below the homes.
std::filesystem::path applicationSupportDir();  // <data>/cn.quorvanel.velto.mac
std::filesystem::path cachesDir();              // <cache>/cn.quorvanel.velto.mac
std::filesystem::path defaultsFile();           // <config>/velto/defaults.json

// Bundle resources: $VELTO_RESOURCE_DIR, else "resources" beside the program.
std::filesystem::path resourceDir();

}  // namespace Paths
}  // namespace velto
