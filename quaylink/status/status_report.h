// quaylink-status: the status files of every line on a machine, read and
// shown as one table (or one JSON list). No window library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/flat_json.h"

namespace ql {

// One line as read from its status file.
struct LineReport {
    std::string path;    // the status file
    FlatObject fields;   // its members; empty when it could not be read
    std::string error;   // why it could not be read, else empty
    bool alive = false;  // its writer still runs
    // What the table shows: the file's state, "DOWN" when the writer is
    // gone without having said ENDED, "UNREADABLE" for a broken file.
    std::string shown_state;
    // True for a line that is not being served: down, unreadable, failed,
    // ended or offline.
    bool down = false;
};

// The status files named by args (a file as it stands; a folder: its own
// quaylink.status, else that of each folder directly in it), or, with no
// args, those under root. Sorted by path; the same file once.
std::vector<std::string> find_status_files(const std::vector<std::string>& args,
                                           const std::string& root);

// Reads and judges one file.
LineReport read_line_report(const std::string& path);

// The table: a heading and one row per line (a second, indented row for a
// running transfer's file or the last error), each at most 79 characters.
// colour: ANSI colours for the states.
std::string format_table(const std::vector<LineReport>& lines, int64_t now, bool colour);

// The merged list: a JSON array of the files' objects, each with "path",
// "shown_state" and "up" added (and "error" for an unreadable file).
std::string format_json(const std::vector<LineReport>& lines);

// 0 when every line is up (and there is at least one), else 1.
int exit_status(const std::vector<LineReport>& lines);

// The command line, and the program.
struct StatusOptions {
    bool json = false;
    int watch_seconds = 0;  // 0: once
    bool help = false;
    std::vector<std::string> paths;
    std::string error;  // a usage error
};
StatusOptions parse_status_options(int argc, char** argv);
const char* status_usage();
int run_status(int argc, char** argv);

}  // namespace ql
