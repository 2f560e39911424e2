#include "foundation/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace velto {

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         unsigned mode, Durability durability) {
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    std::string temp = path.string() + ".tmp-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) throw std::runtime_error("cannot create " + temp + ": " + std::strerror(errno));
    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            throw std::runtime_error("cannot write " + temp + ": " + std::strerror(err));
        }
        data += n;
        left -= std::size_t(n);
    }
    ::fchmod(fd, mode_t(mode));
    if ((durability == Durability::forced && ::fsync(fd) != 0) || ::close(fd) != 0) {
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot flush " + temp);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot replace " + path.string() + ": " + std::strerror(err));
    }
}

}  // namespace velto
