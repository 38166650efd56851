// Names sent by terminals, turned into paths of this machine.
#include <cctype>

#include "foundation/log.h"
#include "platform/dirs.h"
#include "terminal/commands.h"

namespace ql {

namespace {

// Backslashes become separators; a leading drive letter means the root of
// this machine's file tree when the name has no base folder in front.
std::string native_form(const std::string& name, bool has_base) {
    std::string rel = name;
    for (char& c : rel) {
        if (c == '\\') c = '/';
    }
    if (!has_base && rel.size() >= 2 && std::isalpha(static_cast<unsigned char>(rel[0])) &&
        rel[1] == ':') {
        rel.erase(0, 2);
    }
    return rel;
}

}  // namespace

std::string terminal_path(const std::string& base, const std::string& name) {
    std::string rel = native_form(name, !base.empty());
    std::string path = base;
    if (base.empty() && !rel.empty() && rel[0] == '/') path.assign(1, '/');
    bool searching = true;  // until a component is missing in every letter case
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = rel.find('/', pos);
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
        if (!path.empty() && path.back() != '/') path += '/';
        path += part;
    }
    if (!rel.empty() && rel.back() == '/' && !path.empty() && path.back() != '/') path += '/';
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
        if (root.back() != '/') root += '/';
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
