#include "runtime/platform/private_files.hpp"
#include "runtime/platform/platform.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kel {

bool dir_make_private(const char* path) {
    // Each missing level is made in turn from the root down; levels that
    // exist keep their own modes.
    std::string name(path);
    for (size_t at = 1; at <= name.size(); at++) {
        if (at < name.size() && name[at] != '/') continue;
        std::string level = name.substr(0, at);
        struct stat st;
        if (stat(level.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
            continue;
        }
        if (mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool file_write_replace(const char* path, const void* bytes, size_t length) {
    std::string temp = std::string(path) + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);  // created with mode 0600
    if (fd < 0) return false;
    bool ok = fd_write_all(fd, bytes, length);
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), path) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

bool file_write_private(const char* path, const void* bytes, size_t length) {
    std::string name(path);
    size_t slash = name.rfind('/');
    if (slash != std::string::npos && slash > 0 && !dir_make_private(name.substr(0, slash).c_str())) return false;
    return file_write_replace(path, bytes, length);
}

} // namespace kel
