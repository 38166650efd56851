// The activity log: one line per event in the status list and, when a log
// file is configured, one line appended to the log file.
//
// Each call is serialised as a whole, so lines from several threads are
// neither interleaved nor counted twice. No lock is held while the operator
// view is waiting for another thread (the view never blocks here).
#pragma once

// The builds for Windows use the C99 printf family (see the top CMake file),
// which the compiler checks as gnu_printf there.
#if defined(__MINGW32__)
#define QL_PRINTF_STYLE gnu_printf
#else
#define QL_PRINTF_STYLE printf
#endif

#include <atomic>
#include <cstdint>
#include <string>

namespace ql {

// Process-wide log state.
struct LogState {
    std::atomic<int> mode{0};        // 0 none, 1 append, 2 created at each settings load
    std::atomic<int> verbosity{1};   // 1 verbose, 2 full verbose
    std::atomic<int> debug{0};       // detail lines of modem, FTP and block transfer
    std::atomic<int> last_code{0};
    std::atomic<int> line_count{0};  // lines now in the status list
};

LogState& log_state();

// Log path (the log file's full path); set by the settings load.
std::string log_path();

// Longest log path taken, in characters.
inline constexpr size_t kLogPathMax = 255;

// Sets the log path. A path longer than kLogPathMax is refused, never cut
// (a cut path names another file): the path becomes empty, file logging is
// switched off, one status list line says why, and the result is false.
bool set_log_path(const std::string& path);

// Starts clean: mode 0, verbosity 1, debug 0, empty path, count 0.
void log_reset();

// One event: error_flag 0 = information, anything else = error (callers
// pass 99). The code is shown beside the text. Control characters in the
// text are written escaped (see log_escape), so a text from a terminal, a
// peer or a file name can neither break the line nor reach the operator's
// terminal as a control sequence.
void log_event(const std::string& text, int error_flag, int32_t code);

// Appends a line to the status list, keeping it at most 2000 lines. The
// line is escaped like a log_event text.
void status_list_add(const std::string& line);

// The text with every control character (below 32, and 127) written as
// "\xHH" (two upper-case hexadecimal digits). Everything else, backslashes
// included, stays as it is (DOS paths are full of them), so escaping an
// escaped text changes nothing.
std::string log_escape(const std::string& text);

// What a secret (an FTP password, a relay login) is written as in every
// log, console and status list line.
inline constexpr const char* kSecretMask = "********";

// Empties the status list (CLEAR and restart) and sets the count to 0.
void status_list_clear();

inline constexpr int kStatusListMax = 2000;

// printf-style formatting into a std::string, for callers that build texts
// with the system's formats.
std::string strformat(const char* fmt, ...) __attribute__((format(QL_PRINTF_STYLE, 1, 2)));

// Stamp "MM/DD/YY hh:mm:ss" of the local time now.
std::string log_stamp();

}  // namespace ql
