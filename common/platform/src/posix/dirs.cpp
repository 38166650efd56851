// POSIX implementation of platform/dirs.h.
#include "platform/dirs.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/clock.h"
#include "platform/files.h"
#include "posix_files.h"

namespace platform {

namespace {

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

DirEntry describe(const std::string& dir, const char* name) {
    DirEntry e;
    e.name = name;
    std::string path = join(dir, e.name);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) return e;
    e.is_directory = S_ISDIR(st.st_mode);
    e.size = e.is_directory ? 0 : static_cast<int64_t>(st.st_size);
    if (S_ISLNK(st.st_mode)) e.size = 0;  // a dangling link
    e.modified = static_cast<int64_t>(st.st_mtim.tv_sec);
    return e;
}

}  // namespace

DirEntry describe_at(int dir, const char* name) {
    DirEntry e;
    e.name = name;
    struct stat st;
    if (::fstatat(dir, name, &st, 0) != 0 && ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return e;
    e.is_directory = S_ISDIR(st.st_mode);
    e.size = e.is_directory ? 0 : static_cast<int64_t>(st.st_size);
    if (S_ISLNK(st.st_mode)) e.size = 0;  // a dangling link
    e.modified = static_cast<int64_t>(st.st_mtim.tv_sec);
    return e;
}

namespace {

bool name_before(const DirEntry& a, const DirEntry& b) {
    int c = ::strcasecmp(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
}

}  // namespace

int resolve_real_path(const std::string& path, std::string& out) {
    out.clear();
    std::string rest = path;
    std::string cur = "/";
    if (rest.empty() || rest[0] != '/') {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) == nullptr) return errno;
        rest = std::string(here) + "/" + rest;
    }
    bool missing = false;  // an entry was not found: the rest is taken as written
    size_t pos = 0;
    while (pos < rest.size()) {
        size_t end = rest.find('/', pos);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            // Where a missing folder's parent is cannot be known for sure.
            if (missing) return ENOENT;
            cur = cur.substr(0, std::max<size_t>(cur.find_last_of('/'), 1));
            continue;
        }
        std::string next = join(cur, part);
        if (missing) {
            cur = next;
            continue;
        }
        struct stat st;
        if (::lstat(next.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            missing = true;
            cur = next;
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            char* real = ::realpath(next.c_str(), nullptr);
            if (real == nullptr) return errno == ENOENT ? ELOOP : errno;
            next = real;
            ::free(real);
        } else if (pos < rest.size() && !S_ISDIR(st.st_mode)) {
            return ENOTDIR;
        }
        cur = next;
    }
    out = cur;
    return 0;
}

void sort_entries(std::vector<DirEntry>& out) {
    std::sort(out.begin(), out.end(), name_before);
}

int list_folder(const std::string& dir, std::vector<DirEntry>& out) {
    out.clear();
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return errno;
    int err = 0;
    for (;;) {
        errno = 0;
        dirent* ent = ::readdir(d);
        if (ent == nullptr) {
            err = errno;
            break;
        }
        std::string_view n = ent->d_name;
        if (n == "." || n == "..") continue;
        out.push_back(describe(dir, ent->d_name));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(), name_before);
    return err;
}

std::string find_name_ignoring_case(const std::string& dir, const std::string& name) {
    struct stat st;
    if (::lstat(join(dir, name).c_str(), &st) == 0) return name;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return {};
    std::vector<std::string> matches;
    while (dirent* ent = ::readdir(d)) {
        if (::strcasecmp(ent->d_name, name.c_str()) == 0) matches.emplace_back(ent->d_name);
    }
    ::closedir(d);
    if (matches.empty()) return {};
    return *std::min_element(matches.begin(), matches.end());
}

namespace {

bool write_all(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Copies the rest of in to out. kCopyOk, kCopySourceFailed or kCopyShortWrite.
int copy_stream(int in, int out, size_t chunk_bytes) {
    std::vector<char> buf(chunk_bytes > 0 ? chunk_bytes : 1);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return kCopySourceFailed;
        if (n == 0) return kCopyOk;
        if (!write_all(out, buf.data(), static_cast<size_t>(n))) return kCopyShortWrite;
    }
}

// Opens the destination without waiting and takes its exclusive lock,
// trying again while another process holds it. Only a regular file (or a
// new one) is taken. A copy does not follow a link at the destination: the
// link itself is replaced, so there is nothing to lock (fd stays -1).
// kCopyOk, or the failure.
int open_locked(int dir, const std::string& path, bool append, const CopyLimits& how, int& fd) {
    const int tries = how.tries;
    int result = kCopyDestinationFailed;
    fd = -1;
    for (int i = 0; i < tries; ++i) {
        if (i > 0) sleep_ms(how.retry_ms);
        // In a held folder a link at the destination is never written
        // through, not even by an append.
        bool follow = append && dir == AT_FDCWD;
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : 0) |
                    (follow ? 0 : O_NOFOLLOW);
        fd = ::openat(dir, path.c_str(), flags, 0666);
        if (fd < 0) {
            struct stat st;
            if (!append && errno == ELOOP &&
                ::fstatat(dir, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode)) {
                return kCopyOk;
            }
            return kCopyDestinationFailed;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (how.single_link && st.st_nlink > 1)) {
            ::close(fd);
            fd = -1;
            return kCopyDestinationFailed;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return kCopyOk;
        int err = errno;
        ::close(fd);
        fd = -1;
        if (err != EWOULDBLOCK) return kCopyDestinationFailed;
        result = kCopyDestinationBusy;
    }
    return result;
}

int append_into(int in, int out, size_t chunk_bytes) {
    off_t start = ::lseek(out, 0, SEEK_END);
    int rc = copy_stream(in, out, chunk_bytes);
    if (rc != kCopyOk && start >= 0) {
        // Best effort: the failure is reported whether or not the cut works.
        int cut = ::ftruncate(out, start);
        (void)cut;
    }
    return rc;
}

// A copy into a temporary file beside the destination, renamed over it when
// complete; in place when no temporary file can be made there (then out
// must be the open destination).
int replace_content(int in, int out, int dir, const std::string& destination, size_t chunk_bytes) {
    TempFile tmp;
    if (create_temp_file_at(dir, destination, tmp) != 0) {
        if (out < 0 || ::ftruncate(out, 0) != 0) return kCopyDestinationFailed;
        return copy_stream(in, out, chunk_bytes);
    }
    int rc = copy_stream(in, ::fileno(tmp.file), chunk_bytes);
    if (rc != kCopyOk) {
        discard_temp_file(tmp);
        return rc;
    }
    // The destination keeps its permission bits; a new one gets the usual.
    int err = dir == AT_FDCWD ? commit_temp_file(tmp, destination)
                              : commit_temp_file_at(tmp, destination, 0666);
    if (err != 0) return kCopyShortWrite;
    return kCopyOk;
}

bool same_file(const struct stat& a, const std::string& path) {
    struct stat b;
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int64_t readable_file_size(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    int64_t size = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<int64_t>(st.st_size);
    ::close(fd);
    return size;
}

int copy_file_locked(const std::string& source, const std::string& destination, bool append,
                     int tries, uint32_t retry_ms, size_t chunk_bytes) {
    // Opened without waiting: a pipe or a device must not hold the caller.
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return kCopySourceFailed;
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(in, LOCK_SH | LOCK_NB) != 0 ||
        ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(in);
        return kCopySourceFailed;
    }
    // The same file under two names: a copy would empty it, an append would
    // never reach the end.
    if (same_file(st, destination)) {
        ::close(in);
        return kCopyDestinationFailed;
    }
    int rc = copy_from_fd(in, AT_FDCWD, destination, append, CopyLimits{tries, retry_ms, false},
                          chunk_bytes);
    ::close(in);
    return rc;
}

int copy_from_fd(int in, int dir, const std::string& destination, bool append,
                 const CopyLimits& how, size_t chunk_bytes) {
    int out = -1;
    int rc = open_locked(dir, destination, append, how, out);
    if (rc == kCopyOk) {
        rc = append ? append_into(in, out, chunk_bytes)
                    : replace_content(in, out, dir, destination, chunk_bytes);
        if (out >= 0) ::close(out);
    }
    return rc;
}

LocalTime local_time_of(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    tm b{};
    ::localtime_r(&t, &b);
    return LocalTime{b.tm_year + 1900, b.tm_mon + 1, b.tm_mday, b.tm_hour,
                     b.tm_min,         b.tm_sec,     b.tm_wday};
}

}  // namespace platform
