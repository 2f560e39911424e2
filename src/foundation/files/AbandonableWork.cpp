#include "foundation/files/AbandonableWork.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace velto {

namespace {

// Mount points are written with space, tab, newline and backslash as octal escapes.
std::string unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                text.push_back(char(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        text.push_back(field[i]);
    }
    return text;
}

bool lies(const std::string& path, const std::string& mount) {
    if (mount == "/") return true;
    return path.compare(0, mount.size(), mount) == 0 &&
           (path.size() == mount.size() || path[mount.size()] == '/');
}

}  // namespace

AbandonableWork& AbandonableWork::shared() {
    // A thread left behind holds little more than its stack, as reads keep only the bytes that
    // arrived. Four per mount let a disk spinning up keep a few cover reads waiting while the
    // rest queue for it; the cap over all mounts is then reached only by dozens of stalled
    // shares. The bound leaves time for the largest file read (a 16 MiB cover) from a slow
    // share that still answers.
    static AbandonableWork work(256, std::chrono::seconds(10), 4);
    return work;
}

std::string AbandonableWork::placeOf(const std::string& file) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(std::filesystem::path(file), error);
    const std::string path = (error ? std::filesystem::path(file) : absolute)
                                 .lexically_normal()
                                 .string();
    // The kernel writes this table from memory; reading it never waits on a file system.
    std::ifstream table("/proc/self/mountinfo");
    std::string best = "/";
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount;
        if (!(fields >> id >> parent >> device >> root >> mount)) continue;
        mount = unescaped(mount);
        if (mount.size() > best.size() && lies(path, mount)) best = std::move(mount);
    }
    return best;
}

}  // namespace velto
