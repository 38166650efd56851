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

bool name_before(const DirEntry& a, const DirEntry& b) {
    int c = ::strcasecmp(a.name.c_str(), b.name.c_str());
    return c != 0 ? c < 0 : a.name < b.name;
}

}  // namespace

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

// Opens the destination and takes its exclusive lock, trying again while
// another process holds it. kCopyOk with fd set, or the failure.
int open_locked(const std::string& path, bool append, int tries, uint32_t retry_ms, int& fd) {
    int result = kCopyDestinationFailed;
    for (int i = 0; i < tries; ++i) {
        if (i > 0) sleep_ms(retry_ms);
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0);
        fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) return kCopyDestinationFailed;
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

// A copy into a temporary file beside the real destination, renamed over it
// when complete; in place when no temporary file can be made there.
int replace_content(int in, int out, const std::string& destination, size_t chunk_bytes) {
    char real[PATH_MAX];
    std::string target = ::realpath(destination.c_str(), real) ? real : destination;
    auto slash = target.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmpl = (dir == "." ? std::string() : dir) + "." + leaf + ".copy.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int tmp = ::mkstemp(name.data());
    if (tmp < 0) {
        if (::ftruncate(out, 0) != 0) return kCopyDestinationFailed;
        return copy_stream(in, out, chunk_bytes);
    }
    struct stat st;
    if (::fstat(out, &st) == 0) ::fchmod(tmp, st.st_mode & 07777);
    int rc = copy_stream(in, tmp, chunk_bytes);
    if (rc == kCopyOk && ::fsync(tmp) != 0) rc = kCopyShortWrite;
    if (::close(tmp) != 0 && rc == kCopyOk) rc = kCopyShortWrite;
    if (rc == kCopyOk && ::rename(name.data(), target.c_str()) != 0) rc = kCopyDestinationFailed;
    if (rc != kCopyOk) ::unlink(name.data());
    return rc;
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
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return kCopySourceFailed;
    struct stat st;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(in, LOCK_SH | LOCK_NB) != 0) {
        ::close(in);
        return kCopySourceFailed;
    }
    // The same file under two names: a copy would empty it, an append would
    // never reach the end.
    if (same_file(st, destination)) {
        ::close(in);
        return kCopyDestinationFailed;
    }
    int out = -1;
    int rc = open_locked(destination, append, tries, retry_ms, out);
    if (rc == kCopyOk) {
        rc = append ? append_into(in, out, chunk_bytes)
                    : replace_content(in, out, destination, chunk_bytes);
        ::close(out);
    }
    ::close(in);
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
