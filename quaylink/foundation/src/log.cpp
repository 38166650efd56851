// Activity log: status list lines and log file lines.
#include "foundation/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "foundation/line_status.h"
#include "foundation/operator_view.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace ql {

namespace {

// A formatted line must fit a 256-byte buffer, terminator included.
constexpr size_t kLineMax = 255;

std::recursive_mutex g_mutex;  // one event at a time, whole
std::string g_path;
LogState g_state;

// The text cut so that the longer (file) form of the line fits kLineMax.
std::string fit_text(const std::string& head, const std::string& text) {
    size_t room = kLineMax - 2;  // "]\n" after the text
    if (head.size() >= room) return {};
    room -= head.size();
    return text.size() <= room ? text : text.substr(0, room);
}

}  // namespace

LogState& log_state() { return g_state; }

std::string log_escape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string log_path() {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    return g_path;
}

bool set_log_path(const std::string& path) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    if (path.size() <= kLogPathMax) {
        g_path = path;
        return true;
    }
    g_path.clear();
    g_state.mode = 0;
    status_list_add(strformat("Log file path too long (%zu characters, at most %zu): no log file",
                              path.size(), kLogPathMax));
    return false;
}

void log_reset() {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_state.mode = 0;
    g_state.verbosity = 1;
    g_state.debug = 0;
    g_state.last_code = 0;
    g_state.line_count = 0;
    g_path.clear();
}

std::string strformat(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

std::string log_stamp() {
    platform::LocalTime t = platform::local_now();
    return strformat("%2.2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d", t.month, t.day, t.year - 2000, t.hour,
                     t.minute, t.second);
}

void status_list_add(const std::string& line) {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    bool drop = g_state.line_count >= kStatusListMax;
    if (drop) g_state.line_count--;
    operator_view().status_list_append(log_escape(line), drop);
    g_state.line_count++;
}

void status_list_clear() {
    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    operator_view().status_list_clear();
    g_state.line_count = 0;
}

void log_event(const std::string& text, int error_flag, int32_t code) {
    const std::string stamp = log_stamp();
    const bool error = error_flag != 0;
    if (error) line_status_error(log_escape(text));

    std::lock_guard<std::recursive_mutex> lock(g_mutex);
    g_state.last_code = code;

    const std::string file_head =
        strformat(error ? "ERR: [%-20s][%5d][" : "INFO:[%-20s][%5d][", stamp.c_str(), code);
    const std::string body = fit_text(file_head, log_escape(text));
    status_list_add(strformat(error ? "ERR:  %-20s %5d %s" : "INFO: %-20s %5d %s", stamp.c_str(),
                              code, body.c_str()));

    if (g_state.mode == 0) return;
    const std::string line = file_head + body + "]\n";
    bool opened = false;
    int err = platform::append_file(g_path, line, &opened);
    if (err == 0 || opened) return;  // write errors after the open are ignored
    // The file cannot be opened: stop trying until the settings turn it on
    // again, and say so where someone may see it.
    g_state.mode = 0;
    g_state.last_code = err;
    std::fprintf(stderr, "INFO:[%-20s][%5d][%s]\n", stamp.c_str(), err, "Couldn't open log file");
}

}  // namespace ql
