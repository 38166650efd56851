// Windows implementation of platform/beneath.h: names are opened under the
// held folder's final path, and the final path of every handle opened is
// checked by handle against it. Held folders share no deleting, so neither
// they nor a folder above them can be renamed away while held.
#include "platform/beneath.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "win32_files.h"
#include "win32_support.h"

namespace platform {

using win32::last_win32_errno;
using win32::widen;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE handle_of(FileHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

std::string final_path(HANDLE h) {
    return win32::final_path(reinterpret_cast<std::intptr_t>(h));
}

bool same_letters(char a, char b) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return up(a) == up(b);
}

// True when path is root or lies below it (letter case ignored, as the
// file system does).
bool within(const std::string& path, const std::string& root) {
    std::string r = root;
    while (!r.empty() && win32::is_separator(r.back())) r.pop_back();
    if (path.size() < r.size()) return false;
    for (size_t i = 0; i < r.size(); ++i) {
        if (!same_letters(path[i], r[i])) return false;
    }
    return path.size() == r.size() || win32::is_separator(path[r.size()]);
}

// A relative name: no drive, no root, no device space.
bool relative_name(const std::string& rel) {
    if (rel.empty()) return true;
    if (win32::is_separator(rel[0])) return false;
    return rel.find(':') == std::string::npos;
}

int open_folder(const std::string& path, HeldFolder& out) {
    HANDLE h = CreateFileW(widen(path.empty() ? "." : path).c_str(), GENERIC_READ, kShareNoDelete,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_win32_errno();
    BY_HANDLE_FILE_INFORMATION info;
    std::string real = final_path(h);
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || real.empty()) {
        CloseHandle(h);
        return ENOTDIR;
    }
    out.handle = reinterpret_cast<FileHandle>(h);
    out.path = real;
    return 0;
}

}  // namespace

int folder_hold(const std::string& path, HeldFolder& out) {
    folder_release(out);
    return open_folder(path, out);
}

int folder_hold_beneath(const HeldFolder& root, const std::string& rel, HeldFolder& out) {
    folder_release(out);
    if (!relative_name(rel)) return EXDEV;
    int err = open_folder(rel.empty() ? root.path : win32::join_path(root.path, rel), out);
    if (err == 0 && !within(out.path, root.path)) {
        folder_release(out);
        err = EXDEV;
    }
    return err;
}

void folder_release(HeldFolder& f) {
    if (f.handle != kNoFile) CloseHandle(handle_of(f.handle));
    f.handle = kNoFile;
    f.path.clear();
}

int file_open_regular(const std::string& path, FileAccess access, FileHandle& out) {
    int err = 0;
    HANDLE h = win32::open_regular_handle(path, access, err);
    out = h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
    return err;
}

int file_open_beneath(const HeldFolder& root, const std::string& rel, FileAccess access,
                      bool no_final_link, FileHandle& out) {
    out = kNoFile;
    if (!relative_name(rel)) return EXDEV;
    // The folder first: a file is never created where the name leads
    // outside. A link at the name itself is refused where it is not to be
    // followed, and whenever the open may create the file.
    auto cut = win32::last_separator(rel);
    HeldFolder folder;
    int err = folder_hold_beneath(root, cut == std::string::npos ? "" : rel.substr(0, cut), folder);
    if (err != 0) return err;
    std::string path =
        win32::join_path(folder.path, cut == std::string::npos ? rel : rel.substr(cut + 1));
    bool creates = access == FileAccess::write || access == FileAccess::append;
    if (no_final_link || creates) {
        win32::PathFacts facts;
        if (win32::path_facts(path, false, facts) == 0 && facts.link) {
            folder_release(folder);
            return ELOOP;
        }
    }
    HANDLE h = win32::open_regular_handle(path, access, err);
    folder_release(folder);
    if (h == INVALID_HANDLE_VALUE) return err;
    if (!within(final_path(h), root.path)) {
        CloseHandle(h);
        return EXDEV;
    }
    out = reinterpret_cast<FileHandle>(h);
    return 0;
}

int program_open_beneath(const HeldFolder& root, const std::string& rel, FileHandle& out) {
    FileHandle checked = kNoFile;
    int err = file_open_beneath(root, rel, FileAccess::read, false, checked);
    if (err != 0) return err;
    // The same file opened again, now sharing only reading: while held it
    // can be neither written, replaced nor renamed, so its final path keeps
    // naming it until the program has started.
    HANDLE h = ReOpenFile(handle_of(checked), GENERIC_READ, FILE_SHARE_READ, 0);
    if (h == INVALID_HANDLE_VALUE) err = last_win32_errno();
    CloseHandle(handle_of(checked));
    if (err != 0) return err;
    if (!within(final_path(h), root.path)) {
        CloseHandle(h);
        return EXDEV;
    }
    out = reinterpret_cast<FileHandle>(h);
    return 0;
}

int file_link_count(FileHandle h, int64_t& links) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle_of(h), &info)) return last_win32_errno();
    links = static_cast<int64_t>(info.nNumberOfLinks);
    return 0;
}

int file_length(FileHandle h, int64_t& length) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_of(h), &size)) return last_win32_errno();
    length = static_cast<int64_t>(size.QuadPart);
    return 0;
}

std::FILE* stream_from_handle(FileHandle& h, FileAccess access, int& error) {
    static const int kFlags[] = {_O_RDONLY, _O_RDWR, _O_WRONLY, _O_WRONLY | _O_APPEND};
    static const char* const kModes[] = {"rb", "r+b", "wb", "ab"};
    int i = static_cast<int>(access);
    int fd = _open_osfhandle(h, kFlags[i] | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = errno != 0 ? errno : EMFILE;
        return nullptr;
    }
    h = kNoFile;  // the descriptor owns it now
    std::FILE* f = _fdopen(fd, kModes[i]);
    if (f == nullptr) {
        error = errno != 0 ? errno : ENOMEM;
        _close(fd);
    }
    return f;
}

int file_hold_shared(FileHandle) {
    return 0;
}

int create_temp_file_in(const HeldFolder& dir, const std::string& leaf, TempFile& out) {
    return create_temp_file(win32::join_path(dir.path, leaf), out);
}

int commit_temp_file_in(const HeldFolder& dir, TempFile& t, const std::string& leaf,
                        unsigned mode) {
    return commit_temp_file(t, win32::join_path(dir.path, leaf), mode);
}

int remove_stale_temp_files_in(const HeldFolder& dir) {
    return remove_stale_temp_files(dir.path);
}

int remove_in(const HeldFolder& dir, const std::string& leaf) {
    return remove_file(win32::join_path(dir.path, leaf));
}

int list_held_folder(const HeldFolder& dir, std::vector<DirEntry>& out) {
    return list_folder(dir.path, out);
}

int copy_into_held(FileHandle source, const HeldFolder& dir, const std::string& leaf, bool append,
                   const CopyLimits& how, size_t chunk_bytes) {
    std::string destination = win32::join_path(dir.path, leaf);
    // An append never writes through a link in a held folder.
    win32::PathFacts facts;
    if (append && win32::path_facts(destination, false, facts) == 0 && facts.link)
        return kCopyDestinationFailed;
    return win32::copy_from_handle(handle_of(source), destination, append, how, chunk_bytes);
}

void beneath_force_walk(bool) {}

}  // namespace platform
