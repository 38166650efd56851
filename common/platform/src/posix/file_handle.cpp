// POSIX file handles: descriptors, held through flock() taken without
// waiting (shared for readers, exclusive for the holder).
#include "platform/file_handle.h"

#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

int fd_of(FileHandle h) {
    return static_cast<int>(h);
}

// Files are opened without waiting and then judged: a pipe or a socket
// would hold the program for good, and a folder is no file. Once accepted
// the descriptor goes back to ordinary blocking I/O.
int check_kind(int fd, bool device_allowed) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode) && !(device_allowed && S_ISCHR(st.st_mode))) return EINVAL;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return errno;
    return 0;
}

// Judges and locks a freshly opened descriptor; closes it on failure.
int take(int fd, bool device_allowed, int lock, FileHandle& out, bool* busy) {
    int error = check_kind(fd, device_allowed);
    if (error == 0 && ::flock(fd, lock | LOCK_NB) != 0) {
        error = errno;
        if (busy != nullptr) *busy = error == EWOULDBLOCK;
    }
    if (error != 0) {
        ::close(fd);
        return error;
    }
    out = fd;
    return 0;
}

std::string folder_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

int file_open_shared_read(const std::string& path, FileHandle& out) {
    out = kNoFile;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    return take(fd, false, LOCK_SH, out, nullptr);
}

int file_open_exclusive(const std::string& path, const ExclusiveOpen& how, FileHandle& out,
                        bool& busy) {
    out = kNoFile;
    busy = false;
    int access = how.read ? O_RDWR : O_WRONLY;
    int flags = access | O_CREAT | O_CLOEXEC | O_NONBLOCK | (how.no_link ? O_NOFOLLOW : 0);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return errno;
    return take(fd, how.device_allowed, LOCK_EX, out, &busy);
}

int file_close(FileHandle& h) {
    if (h == kNoFile) return 0;
    int error = ::close(fd_of(h)) == 0 ? 0 : errno;
    h = kNoFile;
    return error;
}

int file_read_some(FileHandle h, char* data, size_t size, size_t& got) {
    got = 0;
    for (;;) {
        ssize_t n = ::read(fd_of(h), data, size);
        if (n >= 0) {
            got = static_cast<size_t>(n);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int file_write_all(FileHandle h, const char* data, size_t size, size_t& written) {
    written = 0;
    while (written < size) {
        ssize_t n = ::write(fd_of(h), data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        written += static_cast<size_t>(n);
    }
    return 0;
}

int file_read_at(FileHandle h, int64_t offset, char* data, size_t size, size_t& got) {
    got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd_of(h), data + got, size - got, offset + static_cast<int64_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return 0;
}

int file_write_at(FileHandle h, int64_t offset, const char* data, size_t size, size_t& written) {
    written = 0;
    while (written < size) {
        ssize_t n = ::pwrite(fd_of(h), data + written, size - written,
                             offset + static_cast<int64_t>(written));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        written += static_cast<size_t>(n);
    }
    return 0;
}

int file_seek_end(FileHandle h, int64_t& length) {
    off_t at = ::lseek(fd_of(h), 0, SEEK_END);
    if (at < 0) return errno;
    length = at;
    return 0;
}

int file_truncate(FileHandle h, int64_t length) {
    if (::ftruncate(fd_of(h), length) != 0) return errno;
    if (::lseek(fd_of(h), length, SEEK_SET) < 0) return errno;
    return 0;
}

int file_flush(FileHandle h) {
    if (::fsync(fd_of(h)) == 0) return 0;
    // Character devices and pipes cannot be flushed; nothing is lost there.
    return errno == EINVAL || errno == EROFS ? 0 : errno;
}

int flush_folder_of(const std::string& path) {
    int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL ? 0 : error;
}

int commit_temp_file_over_held(TempFile& temp, const std::string& path, FileHandle& h) {
    int error = commit_temp_file(temp, path);
    file_close(h);
    return error;
}

int file_is_named_by(FileHandle h, const std::string& path, bool& same) {
    same = false;
    struct stat by_path, by_fd;
    if (::fstat(fd_of(h), &by_fd) != 0) return errno;
    if (::stat(path.c_str(), &by_path) != 0) return errno == ENOENT ? 0 : errno;
    same = by_path.st_dev == by_fd.st_dev && by_path.st_ino == by_fd.st_ino;
    return 0;
}

void file_copy_owner(FileHandle h, std::FILE* stream) {
    struct stat st;
    if (stream == nullptr || ::fstat(fd_of(h), &st) != 0) return;
    if (::fchown(::fileno(stream), st.st_uid, st.st_gid) != 0) {
        // Only a privileged user may give the file away; the file is still
        // worth keeping under the current owner.
    }
}

}  // namespace platform
