// Names sent by terminals, turned into paths of this machine.
#include <cctype>

#include "foundation/log.h"
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

bool name_allowed(const Session& s, const std::string& path) {
    if (!s.confine) return true;
    std::string root, real;
    bool inside = platform::resolve_real_path(s.workdir.empty() ? "." : s.workdir, root) == 0 &&
                  platform::resolve_real_path(path.empty() ? "." : path, real) == 0;
    if (inside && real != root) {
        if (!ends_in_separator(root)) root += platform::dir_separator();
        inside = real.compare(0, root.size(), root) == 0;
    }
    if (!inside)
        log_event(strformat("Outside the working folder, refused: %s", path.c_str()), 99, 0);
    return inside;
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
