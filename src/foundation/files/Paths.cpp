#include "foundation/files/Paths.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace velto::Paths {

namespace {
std::filesystem::path fromEnv(const char* name) {
    const char* value = std::getenv(name);
    // Relative XDG values are invalid and must be ignored.
    if (value && *value && std::filesystem::path(value).is_absolute()) return value;
    return {};
}

std::filesystem::path underHome(const char* name, const char* fallback) {
    auto path = fromEnv(name);
    return path.empty() ? homeDir() / fallback : path;
}

// Reads XDG_DOCUMENTS_DIR="$HOME/..." from user-dirs.dirs.
std::filesystem::path documentsFromUserDirs() {
    std::ifstream in(configHome() / "user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) return homeDir().string() + value.substr(5);
        if (!value.empty() && value.front() == '/') return value;
    }
    return {};
}
}  // namespace

std::filesystem::path homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    return std::filesystem::temp_directory_path();
}

std::filesystem::path configHome() { return underHome("XDG_CONFIG_HOME", ".config"); }
std::filesystem::path dataHome() { return underHome("XDG_DATA_HOME", ".local/share"); }
std::filesystem::path cacheHome() { return underHome("XDG_CACHE_HOME", ".cache"); }

std::filesystem::path documentsDir() {
    if (auto path = fromEnv("XDG_DOCUMENTS_DIR"); !path.empty()) return path;
    if (auto path = documentsFromUserDirs(); !path.empty()) return path;
    return homeDir() / "Documents";
}

std::filesystem::path applicationSupportDir() { return dataHome() / "cn.quorvanel.velto.mac"; }
std::filesystem::path cachesDir() { return cacheHome() / "cn.quorvanel.velto.mac"; }
std::filesystem::path defaultsFile() { return configHome() / "velto" / "defaults.json"; }

std::filesystem::path resourceDir() {
    if (auto path = fromEnv("VELTO_RESOURCE_DIR"); !path.empty()) return path;
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec) / "resources";
    return exe.parent_path() / "resources";
}

}  // namespace velto::Paths
