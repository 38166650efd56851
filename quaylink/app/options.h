// Command line of the communications server.
#pragma once

#include <string>

namespace ql {

struct ProgramOptions {
    std::string settings_name;  // -I<name> or /I<name>; empty: "quaylink.ini"
    bool minimise = false;      // -Z or /Z: minimise the window 5 s after start
    bool console = false;       // --console: no window, lines on standard output
    bool help = false;          // --help or -h
};

// Reads the options; words that are no option are ignored, as are words
// longer than 127 characters.
ProgramOptions parse_program_options(int argc, char** argv);

// The --help text.
const char* program_usage();

}  // namespace ql
