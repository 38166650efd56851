// Start-up of rowsmith: the command line, the two file paths and the
// program's exit status.
#pragma once

#include <string>

#include "rowsmith/convert.h"

namespace rowsmith {

inline constexpr const char* kSourceName = "DATA.TXT";
inline constexpr const char* kTargetName = "DEVSCAN.CSV";
inline constexpr int kUsageExit = 64;  // exit status for a command line not understood

struct Options {
    bool dialog = false;   // -D: run the window instead of converting once
    bool help = false;     // -h, --help
    bool version = false;  // --version
    std::string source;    // -S<file>; empty: DATA.TXT
    std::string target;    // -T<file>; empty: DEVSCAN.CSV
    std::string error;     // set when the command line was not understood
};

// Reads the arguments after the program name. Options start with '-'; the
// letters are case-blind; -S and -T take the file name attached ("-Sa.txt")
// or as the next argument ("-S a.txt").
Options parse_options(int argc, const char* const* argv);

struct Paths {
    std::string workdir;  // ends with the separator
    std::string source;
    std::string target;
};

// The working folder is the program's own folder. Relative names are taken
// in it; absolute names stand as they are.
Paths resolve_paths(const Options& options, const std::string& workdir);

// The folder of the running program, ending with the separator.
std::string program_directory();

// The folder the data files are in: the program's folder, or, when that is
// not writable (an installed copy in /usr/bin), the current folder. Ends
// with the separator.
std::string working_folder();

// The folder the window (-D) works in: the one the operator chose there
// last time, while it still exists, else working_folder(). Ends with the
// separator.
std::string window_folder();

// The folder chosen in the window, remembered for its next start in the
// user's configuration folder (quaylink/rowsmith-folder), written
// crash-safely. 0, or the error number when it could not be written.
int remember_folder(const std::string& folder);

// The remembered folder ("" when none), as it was stored.
std::string remembered_folder();

// name in workdir unless name is absolute.
std::string resolve_in(const std::string& workdir, const std::string& name);

std::string usage_text();

// The --version text: the suite's version and the program's own.
std::string version_text();

// Runs the window mode from its module (beside the program, or in the
// private module folder of an installed copy, see platform/module.h). Returns the
// window's exit status, or kUsageExit with error set when the module cannot
// be loaded.
int run_window(int argc, char** argv, const Paths& paths, std::string& error);

// The process exit status for a conversion result: 0 on success, else the
// result's magnitude (1 to 7).
int exit_status(int result);

// A message as one line (caption, then the text's lines), without the
// line end, as written to standard error when there is no window.
std::string message_line(const Message& message);

}  // namespace rowsmith
