// Names sent by terminals, turned into paths of this machine.
#include <cctype>
#include <cerrno>

#include "foundation/log.h"
#include "platform/beneath.h"
#include "platform/dirs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "terminal/commands.h"

namespace ql {

namespace {

bool has_drive_letter(const std::string& name) {
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

// Ends in this machine's separator, or in '/', which every platform takes.
bool ends_in_separator(const std::string& path) {
    return !path.empty() && (path.back() == platform::dir_separator() || path.back() == '/');
}

// Backslashes and slashes become this machine's separator. A leading drive
// letter, when the name has no base folder in front, means the root of this
// machine's file tree where paths have no drives; where they do (Windows)
// it is a path of its own and stays.
std::string native_form(const std::string& name, bool has_base) {
    const char sep = platform::dir_separator();
    std::string rel = name;
    for (char& c : rel) {
        if (c == '\\' || c == '/') c = sep;
    }
    if (!has_base && has_drive_letter(rel) && !platform::is_absolute_path(rel)) rel.erase(0, 2);
    return rel;
}

}  // namespace

std::string terminal_path(const std::string& base, const std::string& name) {
    const char sep = platform::dir_separator();
    std::string rel = native_form(name, !base.empty());
    std::string path = base;
    // Without a base, the root stays as sent: leading separators (two for a
    // server name on Windows), or a drive and its separators on Windows.
    if (base.empty()) {
        size_t root = has_drive_letter(rel) && platform::is_absolute_path(rel) ? 2 : 0;
        root = rel.find_first_not_of(sep, root);
        path = rel.substr(0, root);
        rel.erase(0, root == std::string::npos ? rel.size() : root);
    }
    bool searching = true;  // until a component is missing in every letter case
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = rel.find(sep, pos);
        if (end == std::string::npos) end = rel.size();
        std::string part = rel.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty()) continue;
        if (searching && part != "." && part != "..") {
            std::string found = platform::find_name_ignoring_case(path, part);
            if (found.empty()) {
                searching = false;
            } else {
                part = found;
            }
        }
        if (!path.empty() && !ends_in_separator(path)) path += sep;
        path += part;
    }
    if (!rel.empty() && rel.back() == sep && !path.empty() && !ends_in_separator(path)) path += sep;
    return path;
}

std::string full_name(const Session& s, const std::string& name) {
    return terminal_path(s.workdir, s.subdir + name);
}

std::string base_name(const Session& s, const std::string& name) {
    return terminal_path(s.workdir, name);
}

std::string given_name(const std::string& name) {
    return terminal_path("", name);
}

namespace {

void log_outside(const std::string& path) {
    log_event(strformat("Outside the working folder, refused: %s", path.c_str()), 99, 0);
}

// Where path really leads (every link followed) relative to the working
// folder's real path; false when that is outside the tree (logged).
bool inside_rel(const Session& s, const std::string& path, std::string& rel) {
    std::string root, real;
    bool inside = platform::resolve_real_path(s.workdir.empty() ? "." : s.workdir, root) == 0 &&
                  platform::resolve_real_path(path.empty() ? "." : path, real) == 0;
    rel.clear();
    if (inside && real != root) {
        if (!ends_in_separator(root)) root += platform::dir_separator();
        inside = real.compare(0, root.size(), root) == 0;
        if (inside) rel = real.substr(root.size());
    }
    if (!inside) log_outside(path);
    return inside;
}

// A name that resolved inside the tree but whose open left it (a link put
// in its way since) or met a link where none may be: logged as a refusal.
int judged(int error, const std::string& path) {
    if (error == EXDEV || error == ELOOP) {
        log_outside(path);
        return kNameRefused;
    }
    return error;
}

// With confine on, a regular file with more than one name may be the very
// file outside the tree that a hard link inside leads to.
bool single_named(const Session& s, platform::FileHandle h, const std::string& path) {
    int64_t links = 1;
    if (!s.confine || platform::file_link_count(h, links) != 0 || links <= 1) return true;
    log_event(strformat("Hard-linked file, refused: %s", path.c_str()), 99, 0);
    return false;
}

// The folder part and the last component of a relative or full path.
void split_leaf(const std::string& path, std::string& folder, std::string& leaf) {
    size_t cut = path.find_last_of(platform::dir_separator() == '/' ? "/" : "/\\");
    folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    leaf = cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool name_allowed(const Session& s, const std::string& path) {
    if (!s.confine) return true;
    std::string rel;
    return inside_rel(s, path, rel);
}

int open_name(const Session& s, const std::string& path, platform::FileAccess access,
              platform::FileHandle& out) {
    out = platform::kNoFile;
    if (!s.confine) return platform::file_open_regular(path, access, out);
    std::string rel;
    platform::HeldFolder root;
    if (!inside_rel(s, path, rel)) return kNameRefused;
    int err = platform::folder_hold(s.workdir, root);
    // An open for writing empties the file: a second name of it is looked
    // for before that, through an open that changes nothing.
    if (err == 0 && access != platform::FileAccess::read &&
        platform::file_open_beneath(root, rel, platform::FileAccess::read, false, out) == 0) {
        bool single = single_named(s, out, path);
        platform::file_close(out);
        if (!single) err = kNameRefused;
    }
    if (err == 0) err = judged(platform::file_open_beneath(root, rel, access, false, out), path);
    platform::folder_release(root);
    if (err == 0 && !single_named(s, out, path)) {
        platform::file_close(out);
        err = kNameRefused;
    }
    return err;
}

int open_program(const Session& s, const std::string& path, platform::FileHandle& out) {
    out = platform::kNoFile;
    if (!s.confine) return 0;  // started by its path, as any name is used then
    std::string rel;
    platform::HeldFolder root;
    if (!inside_rel(s, path, rel)) return kNameRefused;
    int err = platform::folder_hold(s.workdir, root);
    if (err == 0) err = judged(platform::program_open_beneath(root, rel, out), path);
    platform::folder_release(root);
    if (err == 0 && !single_named(s, out, path)) {
        platform::file_close(out);
        err = kNameRefused;
    }
    return err;
}

int hold_named_folder(const Session& s, const std::string& path, platform::HeldFolder& out) {
    if (!s.confine) return platform::folder_hold(path, out);
    std::string rel;
    platform::HeldFolder root;
    if (!inside_rel(s, path, rel)) return kNameRefused;
    int err = platform::folder_hold(s.workdir, root);
    if (err == 0) err = judged(platform::folder_hold_beneath(root, rel, out), path);
    platform::folder_release(root);
    return err;
}

int hold_folder_of_name(const Session& s, const std::string& path, platform::HeldFolder& dir,
                        std::string& leaf) {
    std::string folder, rel;
    if (!s.confine) {
        split_leaf(path, folder, leaf);
        return leaf.empty() ? EISDIR : platform::folder_hold(folder, dir);
    }
    if (!inside_rel(s, path, rel)) return kNameRefused;
    split_leaf(rel, folder, leaf);
    if (leaf.empty()) return EISDIR;  // the working folder itself
    platform::HeldFolder root;
    int err = platform::folder_hold(s.workdir, root);
    if (err == 0) err = judged(platform::folder_hold_beneath(root, folder, dir), path);
    platform::folder_release(root);
    if (err != 0) return err;
    // An existing file there is replaced or written: it must not be a second
    // name of a file elsewhere.
    platform::FileHandle existing = platform::kNoFile;
    if (platform::file_open_beneath(dir, leaf, platform::FileAccess::read, true, existing) == 0) {
        bool single = single_named(s, existing, path);
        platform::file_close(existing);
        if (!single) {
            platform::folder_release(dir);
            return kNameRefused;
        }
    }
    return 0;
}

bool creatable_name(const std::string& name) {
    if (name.find_first_of("\r\n") == std::string::npos) return true;
    log_event(strformat("Line break in a new file name, refused: %s", name.c_str()), 99, 0);
    return false;
}

bool programs_allowed(const Session& s, const std::string& word) {
    if (s.programs) return true;
    log_event(strformat("Programs are switched off, refused: %s", word.c_str()), 99, 0);
    return false;
}

}  // namespace ql
