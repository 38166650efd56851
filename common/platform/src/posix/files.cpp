// POSIX implementation of platform/files.h.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform_shared.h"
#include "posix_files.h"

namespace platform {

namespace {

int write_all(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::string parent_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes a rename durable by flushing the folder entry; best effort.
void sync_directory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

char dir_separator() {
    return '/';
}

bool path_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int not_regular_error() {
    return EINVAL;
}

int replaceable_target(const std::string& target) {
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return S_ISREG(st.st_mode) ? 0 : not_regular_error();
}

// The descriptor was opened without waiting; it is kept only for a regular
// file, and then made blocking again for ordinary reads and writes.
// Emptying is done here, after the check, so nothing but a regular file is
// ever cut.
int accept_regular_fd(int fd, bool empty_it) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return not_regular_error();
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return errno;
    if (empty_it && ::ftruncate(fd, 0) != 0) return errno;
    return 0;
}

int keep_regular_fd(int fd, bool empty_it, int& error) {
    if (fd < 0) {
        error = errno;
        return -1;
    }
    error = accept_regular_fd(fd, empty_it);
    if (error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

// Opens without waiting and keeps the descriptor only for a regular file.
int open_regular_fd(const std::string& path, int flags, bool empty_it, int& error) {
    return keep_regular_fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666), empty_it,
                           error);
}

}  // namespace

std::FILE* open_regular_file(const std::string& path, FileAccess access, int& error) {
    int flags = O_RDONLY;
    const char* mode = "rb";
    bool empty_it = false;
    switch (access) {
        case FileAccess::read:
            break;
        case FileAccess::read_write:
            flags = O_RDWR;
            mode = "r+b";
            break;
        case FileAccess::write:
            flags = O_WRONLY | O_CREAT;
            mode = "wb";
            empty_it = true;
            break;
        case FileAccess::append:
            flags = O_WRONLY | O_CREAT | O_APPEND;
            mode = "ab";
            break;
    }
    int fd = open_regular_fd(path, flags, empty_it, error);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, mode);
    if (f == nullptr) {
        error = errno;
        ::close(fd);
    }
    return f;
}

int read_file(const std::string& path, std::string& out) {
    out.clear();
    int err = 0;
    int fd = open_regular_fd(path, O_RDONLY, false, err);
    if (fd < 0) return err;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

// --- Temporary files -----------------------------------------------------------

namespace {

using shared::kTempNameTries;

uint64_t random_tag() {
    uint64_t tag = 0;
    if (::getrandom(&tag, sizeof tag, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof tag)) {
        return tag;
    }
    // No entropy yet (very early boot): time and a counter still make names
    // that O_EXCL keeps apart.
    static uint64_t counter = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(now.tv_sec) ^
           (static_cast<uint64_t>(::getpid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15ull);
}

std::string temp_name(const std::string& target) {
    return shared::temp_file_name(target, random_tag());
}

// True while path names the very file open on fd (not a link, not a newer
// file put there since).
bool names_open_file(int dir, const std::string& path, int fd) {
    struct stat by_path, by_fd;
    return ::fstat(fd, &by_fd) == 0 &&
           ::fstatat(dir, path.c_str(), &by_path, AT_SYMLINK_NOFOLLOW) == 0 &&
           by_path.st_dev == by_fd.st_dev && by_path.st_ino == by_fd.st_ino;
}

int folder_fd(const TempFile& t) {
    return t.dir >= 0 ? static_cast<int>(t.dir) : AT_FDCWD;
}

// Creates the file and takes its lock. A cleaner in another process may
// remove the name between the two steps; the name is then checked again,
// and a name lost that way is given up for a new one.
int create_temp_fd(int dir, const std::string& target, std::string& path, int& fd) {
    int err = EEXIST;
    for (int i = 0; i < kTempNameTries; ++i) {
        path = temp_name(target);
        fd = ::openat(dir, path.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd < 0) {
            err = errno;
            if (err == EEXIST) continue;
            path.clear();
            return err;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && names_open_file(dir, path, fd)) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return 0;
        }
        ::close(fd);
        fd = -1;
        err = EEXIST;
    }
    path.clear();
    return err;
}

mode_t new_file_mode(int dir, const std::string& target, unsigned mode) {
    struct stat st;
    if (::fstatat(dir, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(mode) & ~mask & 07777;
}

}  // namespace

int create_temp_file_at(int dir, const std::string& target, TempFile& out) {
    out = TempFile{};
    std::string path;
    int fd = -1;
    int err = create_temp_fd(dir, target, path, fd);
    if (err != 0) return err;
    // The second descriptor shares the open file and so its lock.
    int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    std::FILE* f = held < 0 ? nullptr : ::fdopen(fd, "w+b");
    if (f == nullptr) {
        err = errno;
        ::unlinkat(dir, path.c_str(), 0);
        ::close(fd);
        if (held >= 0) ::close(held);
        return err;
    }
    out.file = f;
    out.path = path;
    out.held = held;
    out.dir = dir == AT_FDCWD ? -1 : dir;
    return 0;
}

int create_temp_file(const std::string& target, TempFile& out) {
    return create_temp_file_at(AT_FDCWD, target, out);
}

namespace {

void close_temp(TempFile& t, int& err) {
    if (t.file != nullptr && std::fclose(t.file) != 0 && err == 0) err = errno;
    if (t.held >= 0) ::close(static_cast<int>(t.held));
    t = TempFile{};
}

}  // namespace

int commit_temp_file_at(TempFile& t, const std::string& target, unsigned mode) {
    if (t.held < 0) return EBADF;
    int err = 0;
    if (t.file != nullptr && std::fflush(t.file) != 0) err = errno;
    int fd = static_cast<int>(t.held);
    int dir = folder_fd(t);
    if (err == 0 && ::fchmod(fd, new_file_mode(dir, target, mode)) != 0) err = errno;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    // Renamed while still held, so no cleaner can take it first.
    if (err == 0 && ::renameat(dir, t.path.c_str(), dir, target.c_str()) != 0) err = errno;
    if (err != 0) ::unlinkat(dir, t.path.c_str(), 0);
    close_temp(t, err);
    if (err == 0 && dir != AT_FDCWD) ::fsync(dir);
    return err;
}

int commit_temp_file(TempFile& t, const std::string& target, unsigned mode) {
    bool plain = t.dir < 0;
    int err = commit_temp_file_at(t, target, mode);
    if (err == 0 && plain) sync_directory(parent_of(target));
    return err;
}

void discard_temp_file(TempFile& t) {
    if (t.held >= 0) ::unlinkat(folder_fd(t), t.path.c_str(), 0);
    int ignored = 0;
    close_temp(t, ignored);
}

int remove_stale_temp_files_at(int dir) {
    int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = listing < 0 ? nullptr : ::fdopendir(listing);
    if (d == nullptr) {
        if (listing >= 0) ::close(listing);
        return 0;
    }
    std::vector<std::string> names;
    while (dirent* ent = ::readdir(d)) {
        if (is_temp_file_name(ent->d_name)) names.emplace_back(ent->d_name);
    }
    ::closedir(d);
    int removed = 0;
    for (const std::string& name : names) {
        int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        // Held by its writer: alive. Otherwise removed only while the name
        // still leads to the file judged here.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            names_open_file(dir, name, fd) && ::unlinkat(dir, name.c_str(), 0) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    return removed;
}

int remove_stale_temp_files(const std::string& dir) {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    int removed = remove_stale_temp_files_at(fd);
    ::close(fd);
    return removed;
}

int append_file(const std::string& path, std::string_view data, bool* opened) {
    int err = 0;
    int fd = open_regular_fd(path, O_WRONLY | O_CREAT | O_APPEND, false, err);
    if (opened != nullptr) *opened = fd >= 0;
    if (fd < 0) return err;
    err = write_all(fd, data);
    ::close(fd);
    return err;
}

int remove_file(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int make_directory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

int64_t file_size(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool directory_writable(const std::string& dir) {
    return ::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) == 0;
}

std::string executable_path() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string current_directory() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) return {};
    return buf;
}

std::string user_config_directory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = ::getpwuid(::getuid());
        if (pw == nullptr || pw->pw_dir == nullptr) return {};
        home = pw->pw_dir;
    }
    return std::string(home) + "/.config";
}

int last_error() {
    return errno;
}

int sync_file(const std::string& path) {
    int err = 0;
    int fd = open_regular_fd(path, O_RDONLY, false, err);
    if (fd < 0) return err;
    err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

}  // namespace platform
