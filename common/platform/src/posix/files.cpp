// POSIX implementation of platform/files.h.
#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

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

char dir_separator() { return '/'; }

bool path_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int read_file(const std::string& path, std::string& out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

int write_file_atomic(const std::string& path, std::string_view data, unsigned mode) {
    std::string tmpl = parent_of(path) + "/." + path.substr(path.find_last_of('/') + 1) +
                       ".tmp.XXXXXX";
    if (path.find('/') == std::string::npos) tmpl = "." + path + ".tmp.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return errno;

    struct stat st;
    mode_t perms;
    if (::stat(path.c_str(), &st) == 0) {
        perms = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        perms = static_cast<mode_t>(mode) & ~mask;
    }
    int err = write_all(fd, data);
    if (err == 0 && ::fchmod(fd, perms) != 0) err = errno;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(name.data(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(name.data());
        return err;
    }
    sync_directory(parent_of(path));
    return 0;
}

int append_file(const std::string& path, std::string_view data, bool* opened) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (opened != nullptr) *opened = fd >= 0;
    if (fd < 0) return errno;
    int err = write_all(fd, data);
    ::close(fd);
    return err;
}

int remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

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

int last_error() { return errno; }

int sync_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

}  // namespace platform
