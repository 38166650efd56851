// Command line of the communications server.
#pragma once

#include <string>

namespace ql {

struct ProgramOptions {
    std::string settings_name;     // -I<name> or /I<name>; empty: "quaylink.ini"
    bool minimise = false;         // -Z or /Z: minimise the window 5 s after start
    bool console = false;          // --console: no window, lines on standard output
    bool exit_on_failure = false;  // --exit-on-failure: see run_console
    bool help = false;             // --help or -h
    // Windows services, one per line (see service_mode.h).
    std::string install_service;  // --install-service NAME
    std::string remove_service;   // --remove-service NAME
    std::string service;          // --service NAME: run as that line's service
    std::string config;           // --config PATH: settings file of the service
    std::string account;          // --account USER: the service's account
    std::string error;            // an option that lacks its value
    bool version = false;         // --version
    std::string line_name;         // --name=NAME: the line's name in status and metrics
    std::string metrics_file;      // --metrics-file=PATH: metrics in the Prometheus text format
};

// Reads the options; words that are no option are ignored, as are words
// longer than 127 characters.
ProgramOptions parse_program_options(int argc, char** argv);

// The --help text.
const char* program_usage();

// The --version text: the suite's version and the program's own.
std::string program_version();

}  // namespace ql
