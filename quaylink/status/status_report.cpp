#include "status_report.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "platform/clock.h"
#include "platform/dirs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process_info.h"

namespace ql {

namespace {

constexpr const char* kStatusName = "quaylink.status";
// A status file is a few hundred bytes; anything far larger is not one.
constexpr int64_t kMaxStatusBytes = 256 * 1024;
constexpr size_t kRowWidth = 79;

struct Column {
    const char* title;
    size_t width;
};
constexpr Column kColumns[] = {{"LINE", 9},     {"STATE", 16}, {"FOR", 7},    {"PORT", 10},
                               {"CONTACT", 11}, {"XFER", 8},   {"IN/OUT", 7}, {"FAIL", 4}};

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty() || platform::is_dir_separator(dir.back())) return dir + name;
    return dir + platform::dir_separator() + name;
}

// The status files of the folders directly in dir.
void add_child_files(const std::string& dir, std::vector<std::string>& out) {
    std::vector<platform::DirEntry> entries;
    platform::list_folder(dir, entries);
    for (const platform::DirEntry& e : entries) {
        if (!e.is_directory) continue;
        std::string file = join(join(dir, e.name), kStatusName);
        if (platform::is_regular_file(file)) out.push_back(file);
    }
}

// Cut or padded to width columns; counts UTF-8 sequences as one column and
// never cuts one in half.
std::string fit(const std::string& text, size_t width, bool pad = true) {
    std::string out;
    size_t columns = 0;
    for (size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (columns + 1 > width || i + len > text.size()) break;
        out.append(text, i, len);
        i += len;
        ++columns;
    }
    if (pad) out.append(width - columns, ' ');
    return out;
}

// Texts from the files (names a terminal chose, error texts) reach the
// operator's terminal: no control sequence passes.
std::string shown(const LineReport& r, const char* name) {
    return log_escape(flat_text(r.fields, name));
}

const char* colour_of(const std::string& state) {
    if (state == "READY" || state == "WAITING FOR CALL" || state == "WAIT USB") return "\x1b[32m";
    if (state == "BUSY" || state == "TRANSFER" || state == "STARTING") return "\x1b[33m";
    return "\x1b[31m";
}

std::string transfer_cell(const LineReport& r) {
    std::string direction = flat_text(r.fields, "transfer_direction");
    if (direction.empty()) return "";
    int64_t total = flat_int(r.fields, "transfer_total");
    int64_t done = flat_int(r.fields, "transfer_done");
    if (total <= 0) return direction + " ?";
    int64_t percent = std::clamp<int64_t>(done * 100 / total, 0, 100);
    return direction + " " + std::to_string(percent) + "%";
}

std::string ago(int64_t when, int64_t now) {
    return when > 0 ? duration_text(now - when) + " ago" : "never";
}

// A file that names no line goes by its folder's name (the service's
// instance name), else by its own.
std::string line_cell(const LineReport& r) {
    std::string name = shown(r, "line");
    if (!name.empty()) return name;
    std::string path = r.path;
    size_t end = path.size();
    for (size_t i = path.size(); i-- > 0;) {
        if (!platform::is_dir_separator(path[i])) continue;
        if (end == path.size()) {
            end = i;  // the folder holding the file
            continue;
        }
        return log_escape(path.substr(i + 1, end - i - 1));
    }
    return log_escape(end == path.size() ? path : path.substr(0, end));
}

std::string port_cell(const LineReport& r) {
    std::string port = shown(r, "port");
    if (port.rfind("/dev/", 0) == 0) port.erase(0, 5);
    return port;
}

std::string row(const LineReport& r, int64_t now, bool colour) {
    const FlatObject& f = r.fields;
    std::string since =
        r.alive ? duration_text(now - flat_int(f, "state_since", now)) : std::string();
    std::string cells[] = {
        line_cell(r),
        r.shown_state,
        since,
        port_cell(r),
        r.fields.empty() ? "" : ago(flat_int(f, "last_frame_time"), now),
        transfer_cell(r),
        r.fields.empty()
            ? ""
            : strformat("%lld/%lld", static_cast<long long>(flat_int(f, "files_received")),
                        static_cast<long long>(flat_int(f, "files_sent"))),
        r.fields.empty() ? "" : std::to_string(flat_int(f, "commands_failed")),
    };
    std::string out;
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        bool last = i + 1 == std::size(kColumns);
        std::string cell = fit(cells[i], kColumns[i].width, !last);
        if (i == 1 && colour) cell = colour_of(r.shown_state) + cell + "\x1b[0m";
        out += cell;
        if (!last) out += ' ';
    }
    return out + "\n";
}

// The second row: the transfer under way, or the last error.
std::string detail_row(const LineReport& r, int64_t now) {
    std::string text;
    if (!r.error.empty()) {
        text = r.error + ": " + r.path;
    } else if (!flat_text(r.fields, "transfer_direction").empty()) {
        text = strformat("%s %s %lld of %lld bytes, %lld bytes/s", shown(r, "command").c_str(),
                         shown(r, "transfer_file").c_str(),
                         static_cast<long long>(flat_int(r.fields, "transfer_done")),
                         static_cast<long long>(flat_int(r.fields, "transfer_total")),
                         static_cast<long long>(flat_int(r.fields, "transfer_rate")));
    } else if (flat_int(r.fields, "last_error_time") > 0) {
        text = "last error " + ago(flat_int(r.fields, "last_error_time"), now) + ": " +
               shown(r, "last_error");
    }
    return text.empty() ? "" : fit("    " + text, kRowWidth, false) + "\n";
}

}  // namespace

std::vector<std::string> find_status_files(const std::vector<std::string>& args,
                                           const std::string& root) {
    std::vector<std::string> out;
    if (args.empty()) add_child_files(root, out);
    for (const std::string& arg : args) {
        if (!platform::is_directory(arg)) {
            out.push_back(arg);  // a file, or a name whose absence the report shows
        } else if (platform::is_regular_file(join(arg, kStatusName))) {
            out.push_back(join(arg, kStatusName));
        } else {
            add_child_files(arg, out);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

LineReport read_line_report(const std::string& path) {
    LineReport r;
    r.path = path;
    std::string text;
    int64_t size = platform::file_size(path);
    int err = size > kMaxStatusBytes ? EFBIG : platform::read_file(path, text);
    if (err != 0) {
        r.error = std::strerror(err);
    } else if (!parse_flat_json(text, r.fields) || flat_text(r.fields, "state").empty()) {
        r.error = "not a status file";
    }
    if (!r.error.empty()) {
        r.fields.clear();
        r.shown_state = "UNREADABLE";
        r.down = true;
        return r;
    }
    const std::string state = flat_text(r.fields, "state");
    r.alive = platform::process_exists(static_cast<int>(flat_int(r.fields, "pid")));
    if (!r.alive) {
        // A writer that ended cleanly said so; any other state was left
        // behind by a program that is gone.
        r.shown_state = state == "ENDED" ? "ENDED" : "DOWN";
        r.down = true;
        return r;
    }
    r.shown_state = state;
    r.down = state == "FAILED" || state == "ENDED" || state == "OFFLINE";
    return r;
}

std::string format_table(const std::vector<LineReport>& lines, int64_t now, bool colour) {
    std::string out;
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        bool last = i + 1 == std::size(kColumns);
        out += fit(kColumns[i].title, kColumns[i].width, !last);
        if (!last) out += ' ';
    }
    out += "\n";
    for (const LineReport& r : lines) out += row(r, now, colour) + detail_row(r, now);
    return out;
}

std::string format_json(const std::vector<LineReport>& lines) {
    std::string out = "[";
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineReport& r = lines[i];
        FlatObject o;
        flat_put(o, "path", r.path);
        flat_put(o, "shown_state", r.shown_state);
        o.push_back({"up", r.down ? "false" : "true", false});
        if (!r.error.empty()) flat_put(o, "error", r.error);
        for (const FlatField& f : r.fields) {
            if (flat_find(o, f.name) == nullptr) o.push_back(f);
        }
        out += (i == 0 ? "\n" : ",\n") + write_flat_json(o);
        out.pop_back();  // the object's own line end
    }
    out += lines.empty() ? "]\n" : "\n]\n";
    return out;
}

int exit_status(const std::vector<LineReport>& lines) {
    if (lines.empty()) return 1;
    for (const LineReport& r : lines)
        if (r.down) return 1;
    return 0;
}

StatusOptions parse_status_options(int argc, char** argv) {
    StatusOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--json") {
            o.json = true;
        } else if (word == "--help" || word == "-h") {
            o.help = true;
        } else if (word == "--watch" || word.rfind("--watch=", 0) == 0) {
            std::string value =
                word == "--watch" ? (i + 1 < argc ? argv[++i] : "") : word.substr(8);
            char* end = nullptr;
            long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || n < 1 || n > 3600) {
                o.error = "--watch wants a number of seconds from 1 to 3600";
            } else {
                o.watch_seconds = static_cast<int>(n);
            }
        } else if (word.size() > 1 && word[0] == '-' && word != "-") {
            o.error = "unknown option " + word;
        } else {
            o.paths.push_back(word);
        }
    }
    return o;
}

const char* status_usage() {
    return "Usage: quaylink-status [--json] [--watch N] [FOLDER|FILE...]\n"
           "\n"
           "Shows every quaylink line of this machine, one row each: name, state and\n"
           "for how long, port, last contact with a terminal, the transfer under way,\n"
           "files in/out and failed commands; a second row shows the transfer's file\n"
           "or the last error. A line whose program is gone shows as DOWN.\n"
           "\n"
           "Without FOLDER or FILE it reads each quaylink.status one folder below the\n"
           "services' folder (/var/lib/quaylink on Linux, %ProgramData%\\Quaylink on\n"
           "Windows). A FOLDER stands for its own quaylink.status or, without one, for\n"
           "those of the folders in it.\n"
           "\n"
           "  --json      print the merged list of status files as JSON\n"
           "  --watch N   show the table again every N seconds, in place\n"
           "  -h, --help  show this text\n"
           "\n"
           "Exit status: 0 when every line is up, 1 when one is down, failed, ended,\n"
           "offline or unreadable (or none was found), 2 on a usage error.\n"
           "Colours only on a terminal, and not when NO_COLOR is set.\n";
}

int run_status(int argc, char** argv) {
    StatusOptions o = parse_status_options(argc, argv);
    if (o.help) {
        std::fputs(status_usage(), stdout);
        return 0;
    }
    if (!o.error.empty()) {
        std::fprintf(stderr, "quaylink-status: %s\n%s", o.error.c_str(), status_usage());
        return 2;
    }
    const char* no_color = std::getenv("NO_COLOR");
    const bool terminal = platform::stdout_shows_sequences();
    const bool colour = terminal && !o.json && (no_color == nullptr || *no_color == '\0');
    const std::string root = platform::line_folders_root();
    for (;;) {
        std::vector<LineReport> lines;
        for (const std::string& path : find_status_files(o.paths, root))
            lines.push_back(read_line_report(path));
        std::string text =
            o.json ? format_json(lines) : format_table(lines, wall_seconds(), colour);
        if (lines.empty() && !o.json) text += "no status files found\n";
        // In place: home and clear on a terminal, else one table after another.
        if (o.watch_seconds > 0 && terminal) text = "\x1b[H\x1b[2J" + text;
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        if (o.watch_seconds == 0) return exit_status(lines);
        platform::sleep_ms(static_cast<uint32_t>(o.watch_seconds) * 1000);
    }
}

}  // namespace ql
