#include "foundation/files/AbandonableWork.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

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

struct Mount {
    std::string point;
    std::string type;
};

std::vector<Mount> mountsIn(std::string_view table) {
    std::vector<Mount> mounts;
    std::istringstream lines{std::string(table)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, field;
        if (!(fields >> id >> parent >> device >> root >> point)) continue;
        // Optional fields, then "-" and the file system's type.
        while (fields >> field && field != "-") continue;
        std::string type;
        fields >> type;
        mounts.push_back({unescaped(point), type});
    }
    return mounts;
}

// The mount holding `path`: the deepest one, and of several at one point the last mounted,
// which hides the others.
const Mount& mountOf(const std::string& path, const std::vector<Mount>& mounts) {
    static const Mount root{"/", ""};
    const Mount* best = &root;
    for (const auto& mount : mounts)
        if (mount.point.size() >= best->point.size() && lies(path, mount.point)) best = &mount;
    return *best;
}

// File systems held in memory or on a disk of this machine: looking a name up in them never
// waits on a server or a daemon. Any other (a network share, FUSE, an automount) may hang.
bool answersAlways(const std::string& type) {
    static constexpr std::array<std::string_view, 26> local = {
        "ext2",     "ext3",     "ext4",    "xfs",   "btrfs",    "f2fs",  "jfs",
        "reiserfs", "bcachefs", "nilfs2",  "zfs",   "vfat",     "msdos", "exfat",
        "ntfs3",    "hfsplus",  "iso9660", "udf",   "squashfs", "erofs", "tmpfs",
        "ramfs",    "devtmpfs", "proc",    "sysfs", "overlay"};
    return std::find(local.begin(), local.end(), type) != local.end();
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::deque<std::string> componentsOf(const std::filesystem::path& path) {
    std::deque<std::string> names;
    for (const auto& part : path.relative_path()) names.push_back(part.string());
    return names;
}

// The path as written from `at` on: where a walk that stops at `at` would have gone.
std::string writtenFrom(const std::string& at, const std::deque<std::string>& rest) {
    std::filesystem::path path(at);
    for (const auto& name : rest) path /= name;
    return path.lexically_normal().string();
}

std::string mountTable() {
    // The kernel writes this table from memory; reading it never waits on a file system.
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream table;
    table << in.rdbuf();
    return table.str();
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

void AbandonableWork::holdWorkUntil(std::shared_future<void> released, std::string share) {
    std::string mount;
    std::string point;
    if (!share.empty()) {
        // Written as the kernel writes a share's line, which may not answer.
        std::error_code error;
        auto real = std::filesystem::weakly_canonical(share, error);
        point = error ? share : real.string();
        for (char c : point) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\%03o", unsigned(std::uint8_t(c)));
                mount += escape;
            } else {
                mount.push_back(c);
            }
        }
        mount = "0 0 0:0 / " + mount + " rw - fuse.stalled stalled rw\n";
    }
    std::lock_guard lock(holdMutex_);
    hold_ = std::move(released);
    share_ = std::move(mount);
    sharePoint_ = std::move(point);
}

std::string AbandonableWork::placeOfRead(const std::string& file) {
    std::string share;
    {
        std::lock_guard lock(holdMutex_);
        share = share_;
    }
    return placeOf(file, mountTable() + share);
}

std::string AbandonableWork::placeOf(const std::string& file) {
    return placeOf(file, mountTable());
}

std::string AbandonableWork::placeOf(const std::string& file, std::string_view mountTable) {
    const std::vector<Mount> mounts = mountsIn(mountTable);
    std::error_code error;
    auto absolute = std::filesystem::absolute(std::filesystem::path(file), error);
    std::deque<std::string> rest = componentsOf(error ? std::filesystem::path(file) : absolute);
    // The walk the kernel makes to open the file, links followed, as far as it can be made
    // without asking a file system that may hang: there the read goes first, so that is its
    // place, whatever lies beyond.
    std::string at = "/";
    int links = 0;
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            at = std::filesystem::path(at).parent_path().string();
            continue;
        }
        const std::string next = joined(at, name);
        const Mount& mount = mountOf(next, mounts);
        if (!answersAlways(mount.type)) {
            // A name is looked up in the file system of its folder: one inside asks this one.
            if (mount.point != next) return mount.point;
            // Its mount point is found in the folder above; `..` leads back out unasked.
            at = next;
            continue;
        }
        struct stat info {};
        const bool found = ::lstat(next.c_str(), &info) == 0;
        if (found && !S_ISLNK(info.st_mode)) {
            at = next;
            continue;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length =
            found && ++links <= 40 ? ::readlink(next.c_str(), target.data(), target.size()) : -1;
        if (length <= 0) {
            // Missing, or a loop of links: the open fails there.
            rest.push_front(name);
            return mountOf(writtenFrom(at, rest), mounts).point;
        }
        target.resize(std::size_t(length));
        const std::filesystem::path goes(target);
        auto names = componentsOf(goes);
        rest.insert(rest.begin(), names.begin(), names.end());
        if (goes.is_absolute()) at = "/";
    }
    return mountOf(at, mounts).point;
}

}  // namespace velto
