#pragma once

#include <unistd.h>

#include <fstream>
#include <string>

namespace velto {

// Private resident memory of a process: what it keeps itself, without the mapped files.
inline double anonymousResidentBytes(const std::string& pid = "self") {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0) return std::stod(line.substr(8)) * 1024;
    }
    return 0;
}

inline double anonymousMiB() {
    return anonymousResidentBytes() / (1024.0 * 1024.0);
}

inline double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

}  // namespace velto
