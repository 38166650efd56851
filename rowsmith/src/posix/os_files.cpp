// POSIX version of the rowsmith OS calls. Holding a file "not shared" is an
// advisory flock(): an exclusive lock on the inventory file, a shared one on
// the data file, both taken without waiting.
#include "os_files.h"

#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace rowsmith::os {

namespace {

int fd_of(Handle h) {
    return static_cast<int>(h);
}

std::string folder_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// True while path still names the file open on fd.
bool still_names(const std::string& path, int fd, int& error) {
    struct stat by_path, by_fd;
    error = 0;
    if (::fstat(fd, &by_fd) != 0) {
        error = errno;
        return false;
    }
    if (::stat(path.c_str(), &by_path) != 0) {
        if (errno != ENOENT) error = errno;
        return false;
    }
    return by_path.st_dev == by_fd.st_dev && by_path.st_ino == by_fd.st_ino;
}

int copy_range(int from, int to, int64_t offset, int64_t end) {
    std::vector<char> buffer(64 * 1024);
    while (offset < end) {
        size_t want = static_cast<size_t>(std::min<int64_t>(end - offset, buffer.size()));
        ssize_t n = ::pread(from, buffer.data(), want, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;  // the file shrank under us
        size_t written = 0;
        int error = write_all(to, buffer.data(), static_cast<size_t>(n), written);
        if (error != 0) return error;
        offset += n;
    }
    return 0;
}

// Replaces path by a new file holding bytes [from, end) of fd, crash-safely,
// through the suite's one kind of temporary file.
int replace_with_tail(const std::string& path, int fd, int64_t from, int64_t end) {
    platform::TempFile temp;
    int error = platform::create_temp_file(path, temp);
    if (error != 0) return error;
    int out = ::fileno(temp.file);
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        if (::fchown(out, st.st_uid, st.st_gid) != 0) {
            // Only a privileged user may give the file away; the tail is
            // still worth keeping under the current owner.
        }
    }
    error = copy_range(fd, out, from, end);
    if (error == 0 && !still_names(path, fd, error)) {
        platform::discard_temp_file(temp);
        return error;
    }
    if (error != 0) {
        platform::discard_temp_file(temp);
        return error;
    }
    // The data file's permission bits go over with the name.
    return platform::commit_temp_file(temp, path);
}

// Files are opened without waiting and then judged: a pipe or a socket
// would hold the program for good, and a folder is no file. The data file
// must be a regular file (it is removed afterwards); the inventory file may
// also be a character device chosen by the operator (/dev/null, say).
int check_kind(int fd, bool device_allowed) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode) && !(device_allowed && S_ISCHR(st.st_mode))) return EINVAL;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return errno;
    return 0;
}

}  // namespace

int open_shared_read(const std::string& path, Handle& out) {
    out = kNoHandle;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    int error = check_kind(fd, false);
    if (error == 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0) error = errno;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    out = fd;
    return 0;
}

int open_exclusive(const std::string& path, Handle& out, bool& busy) {
    out = kNoHandle;
    busy = false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return errno;
    int error = check_kind(fd, true);
    if (error != 0) {
        ::close(fd);
        return error;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        busy = error == EWOULDBLOCK;
        ::close(fd);
        return error;
    }
    out = fd;
    return 0;
}

int read_some(Handle h, char* data, size_t size, size_t& got) {
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

int write_all(Handle h, const char* data, size_t size, size_t& written) {
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

int seek_end(Handle h, int64_t& length) {
    off_t at = ::lseek(fd_of(h), 0, SEEK_END);
    if (at < 0) return errno;
    length = at;
    return 0;
}

int truncate_to(Handle h, int64_t length) {
    if (::ftruncate(fd_of(h), length) != 0) return errno;
    if (::lseek(fd_of(h), length, SEEK_SET) < 0) return errno;
    return 0;
}

int flush_to_disk(Handle h) {
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

int close_file(Handle& h) {
    if (h == kNoHandle) return 0;
    int error = ::close(fd_of(h)) == 0 ? 0 : errno;
    h = kNoHandle;
    return error;
}

int remove_source(const std::string& path, Handle& h, int64_t tail_from, int64_t length) {
    int fd = fd_of(h);
    int error = 0;
    if (tail_from < length) {
        error = replace_with_tail(path, fd, tail_from, length);
    } else if (still_names(path, fd, error)) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) error = errno;
    }
    if (error == 0) flush_folder_of(path);
    close_file(h);
    return error;
}

int64_t file_length(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return st.st_size;
}

std::string program_directory() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string self = n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : "";
    auto slash = self.find_last_of('/');
    if (slash != std::string::npos) return self.substr(0, slash + 1);
    std::string here = ::getcwd(buffer.data(), buffer.size()) ? buffer.data() : ".";
    if (here.empty() || here.back() != '/') here += '/';
    return here;
}

bool is_absolute_path(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

void sleep_ms(int ms) {
    struct timespec left {
        ms / 1000, (ms % 1000) * 1000000L
    };
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace rowsmith::os
