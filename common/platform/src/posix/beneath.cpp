// POSIX implementation of platform/beneath.h.
#include "platform/beneath.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "posix_files.h"

namespace platform {

namespace {

std::atomic<bool> g_force_walk{false};

int fd_of(const HeldFolder& f) {
    return static_cast<int>(f.handle);
}

int open_flags(FileAccess access) {
    switch (access) {
        case FileAccess::read:
            return O_RDONLY;
        case FileAccess::read_write:
            return O_RDWR;
        case FileAccess::write:
            return O_WRONLY | O_CREAT;
        case FileAccess::append:
            return O_WRONLY | O_CREAT | O_APPEND;
    }
    return O_RDONLY;
}

// openat2 confined to dir: ENOSYS where the kernel (or a system call
// filter) does not have it, so that the caller walks instead.
int open_resolved(int dir, const std::string& rel, int flags, bool no_final_link) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC | (no_final_link ? O_NOFOLLOW : 0));
    how.mode = (flags & O_CREAT) != 0 ? 0666 : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, dir, rel.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EAGAIN);
    if (fd < 0 && errno == EPERM) errno = ENOSYS;  // a filter that forbids the call
    return static_cast<int>(fd);
}

// The walk: every folder on the way is opened with O_NOFOLLOW |
// O_DIRECTORY from the one before, so a link anywhere is refused; ".."
// may only go back to a folder this walk came through.
int open_walked(int dir, const std::string& rel, int flags) {
    std::vector<int> path{::fcntl(dir, F_DUPFD_CLOEXEC, 0)};
    if (path.back() < 0) return -1;
    auto unwind = [&path](int err) {
        for (int fd : path) ::close(fd);
        errno = err;
        return -1;
    };
    size_t pos = 0;
    for (;;) {
        size_t end = rel.find('/', pos);
        bool last = end == std::string::npos;
        std::string part = rel.substr(pos, last ? std::string::npos : end - pos);
        pos = last ? rel.size() : end + 1;
        if (part.empty() || part == ".") {
            if (!last) continue;
            part = ".";
        }
        if (part == "..") {
            if (path.size() < 2) return unwind(EXDEV);
            ::close(path.back());
            path.pop_back();
            if (!last) continue;
            part = ".";
        }
        if (last) {
            int fd = ::openat(path.back(), part.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0666);
            int err = errno;
            for (int held : path) ::close(held);
            errno = err;
            return fd;
        }
        int next =
            ::openat(path.back(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            // O_NOFOLLOW | O_DIRECTORY on a link gives ENOTDIR or ELOOP.
            int err = errno;
            struct stat st;
            if (::fstatat(path.back(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode)) {
                err = EXDEV;
            }
            return unwind(err);
        }
        path.push_back(next);
    }
}

// One step that cannot leave dir.
int open_beneath_fd(int dir, const std::string& rel, int flags, bool no_final_link) {
    std::string name = rel.empty() ? "." : rel;
    if (name[0] == '/') {
        errno = EXDEV;
        return -1;
    }
    if (!g_force_walk.load()) {
        int fd = open_resolved(dir, name, flags, no_final_link);
        if (fd >= 0 || errno != ENOSYS) return fd;
    }
    return open_walked(dir, name, flags);
}

}  // namespace

int folder_hold(const std::string& path, HeldFolder& out) {
    folder_release(out);
    int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    out.handle = fd;
    out.path = path;
    return 0;
}

int folder_hold_beneath(const HeldFolder& root, const std::string& rel, HeldFolder& out) {
    folder_release(out);
    int fd = open_beneath_fd(fd_of(root), rel, O_RDONLY | O_DIRECTORY, false);
    if (fd < 0) return errno;
    out.handle = fd;
    out.path =
        root.path.empty() || root.path.back() == '/' ? root.path + rel : root.path + "/" + rel;
    return 0;
}

void folder_release(HeldFolder& f) {
    if (f.handle != kNoFile) ::close(fd_of(f));
    f.handle = kNoFile;
    f.path.clear();
}

int file_open_beneath(const HeldFolder& root, const std::string& rel, FileAccess access,
                      bool no_final_link, FileHandle& out) {
    out = kNoFile;
    // Never emptied by the open itself: only once it is known to be a file.
    int err = 0;
    int fd = keep_regular_fd(
        open_beneath_fd(fd_of(root), rel, open_flags(access) | O_NONBLOCK, no_final_link),
        access == FileAccess::write, err);
    if (fd >= 0) out = fd;
    return err;
}

int program_open_beneath(const HeldFolder& root, const std::string& rel, FileHandle& out) {
    // Read-only: a program is started while no one here holds it for writing.
    return file_open_beneath(root, rel, FileAccess::read, false, out);
}

int file_open_regular(const std::string& path, FileAccess access, FileHandle& out) {
    out = kNoFile;
    int err = 0;
    int fd =
        keep_regular_fd(::open(path.c_str(), open_flags(access) | O_NONBLOCK | O_CLOEXEC, 0666),
                        access == FileAccess::write, err);
    if (fd >= 0) out = fd;
    return err;
}

int file_link_count(FileHandle h, int64_t& links) {
    struct stat st;
    if (::fstat(static_cast<int>(h), &st) != 0) return errno;
    links = static_cast<int64_t>(st.st_nlink);
    return 0;
}

int file_length(FileHandle h, int64_t& length) {
    struct stat st;
    if (::fstat(static_cast<int>(h), &st) != 0) return errno;
    length = static_cast<int64_t>(st.st_size);
    return 0;
}

std::FILE* stream_from_handle(FileHandle& h, FileAccess access, int& error) {
    static const char* const kModes[] = {"rb", "r+b", "wb", "ab"};
    std::FILE* f = ::fdopen(static_cast<int>(h), kModes[static_cast<int>(access)]);
    if (f == nullptr) {
        error = errno;
        return nullptr;
    }
    h = kNoFile;
    return f;
}

int file_hold_shared(FileHandle h) {
    return ::flock(static_cast<int>(h), LOCK_SH | LOCK_NB) == 0 ? 0 : errno;
}

int create_temp_file_in(const HeldFolder& dir, const std::string& leaf, TempFile& out) {
    return create_temp_file_at(fd_of(dir), leaf, out);
}

int commit_temp_file_in(const HeldFolder& dir, TempFile& t, const std::string& leaf,
                        unsigned mode) {
    t.dir = dir.handle;
    return commit_temp_file_at(t, leaf, mode);
}

int remove_stale_temp_files_in(const HeldFolder& dir) {
    return remove_stale_temp_files_at(fd_of(dir));
}

int remove_in(const HeldFolder& dir, const std::string& leaf) {
    return ::unlinkat(fd_of(dir), leaf.c_str(), 0) == 0 ? 0 : errno;
}

int list_held_folder(const HeldFolder& dir, std::vector<DirEntry>& out) {
    return list_open_folder(::openat(fd_of(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), out);
}

int copy_into_held(FileHandle source, const HeldFolder& dir, const std::string& leaf, bool append,
                   const CopyLimits& how, size_t chunk_bytes) {
    // The same file under two names: a copy would empty it, an append would
    // never reach the end.
    struct stat in, out;
    if (::fstat(static_cast<int>(source), &in) != 0) return kCopySourceFailed;
    if (::fstatat(fd_of(dir), leaf.c_str(), &out, 0) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino) {
        return kCopyDestinationFailed;
    }
    return copy_from_fd(static_cast<int>(source), fd_of(dir), leaf, append, how, chunk_bytes);
}

void beneath_force_walk(bool on) {
    g_force_walk.store(on);
}

}  // namespace platform
