#include "runtime/platform/fs.hpp"
#include "runtime/platform/platform.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kel {

int file_open(const char* path, uint32_t mode) {
    int flags = O_CLOEXEC;
    if (mode & FILE_MODE_WRITE) {
        flags |= O_WRONLY | O_CREAT;
        if (mode & FILE_MODE_APPEND) flags |= O_APPEND;
        else if (!(mode & FILE_MODE_SEEK)) flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    int fd;
    do fd = open(path, flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool file_close(int fd) {
    // After EINTR the descriptor is released all the same on Linux.
    return close(fd) == 0 || errno == EINTR;
}

int64_t file_size(int fd) {
    struct stat st{};
    if (fstat(fd, &st) != 0) return -1;
    return int64_t(st.st_size);
}

bool file_seek(int fd, int64_t offset) {
    return lseek(fd, off_t(offset), SEEK_SET) == off_t(offset);
}

int64_t file_read(int fd, void* buffer, uint64_t count) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < count) {
        // One read is limited to a little under 2 GiB on Linux.
        uint64_t chunk = count - done < 0x40000000 ? count - done : 0x40000000;
        ssize_t n = read(fd, at + done, size_t(chunk));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += uint64_t(n);
    }
    return int64_t(done);
}

// The mode a file newly created by open(..., 0666) gets: 0666 less the umask,
// which can only be read by setting it.
static mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes the bytes over the start of the open file and cuts it there.
static bool file_write_in_place(const char* path, const void* bytes, size_t length) {
    int fd = file_open(path, FILE_MODE_WRITE);
    if (fd < 0) return false;
    bool ok = fd_write_all(fd, bytes, length);
    return file_close(fd) && ok;
}

bool file_write_whole(const char* path, const void* bytes, size_t length) {
    std::string target(path);
    struct stat st{};
    bool exists = stat(path, &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return file_write_in_place(path, bytes, length);
    if (exists && access(path, W_OK) != 0) return false;
    struct stat link{};
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = realpath(path, nullptr);
        if (resolved) {
            target = resolved;
            free(resolved);
        }
    }
    std::string temp = target + ".XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    // A writable file in a folder this process may not add to can only be
    // written in place.
    if (fd < 0 && exists && (errno == EACCES || errno == EPERM))
        return file_write_in_place(path, bytes, length);
    if (fd < 0) return false;
    bool ok = true;
    if (exists) {
        // The owner may only be kept by a privileged process; the mode always.
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {}
        ok = fchmod(fd, st.st_mode & 07777) == 0;
    } else {
        ok = fchmod(fd, new_file_mode()) == 0;
    }
    ok = ok && fd_write_all(fd, bytes, length);
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

bool path_exists(const char* path) {
    struct stat st{};
    return lstat(path, &st) == 0;
}

bool path_is_dir(const char* path) {
    struct stat st{};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool path_modified(const char* path, int64_t* seconds, int32_t* nanoseconds) {
    struct stat st{};
    if (stat(path, &st) != 0) return false;
    *seconds = int64_t(st.st_mtim.tv_sec);
    *nanoseconds = int32_t(st.st_mtim.tv_nsec);
    return true;
}

bool dir_make(const char* path) { return mkdir(path, 0777) == 0; }

bool path_remove(const char* path, bool directory) {
    return (directory ? rmdir(path) : unlink(path)) == 0;
}

bool path_rename(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: refuse a target that exists,
    // then rename plainly.
    if (path_exists(to)) return false;
    return rename(from, to) == 0;
}

bool dir_list(const char* path, std::vector<DirEntry>* entries) {
    int fd;
    do fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        dirent* e = readdir(dir);
        if (!e) {
            ok = errno == 0;
            break;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st{};
            directory = fstatat(dirfd(dir), name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries->push_back(DirEntry{name, directory});
    }
    closedir(dir);
    return ok;
}

} // namespace kel
