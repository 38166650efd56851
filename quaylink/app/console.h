// Console mode: the server without a window.
#pragma once

#include <cstdio>

#include "options.h"

namespace ql {

// Runs the start-up and the communication thread with status lines on out
// (standard output, or a service's status file) until the exit command is
// posted. Returns the exit code: 0, or 1 with --exit-on-failure when the
// thread ended without the exit command.
int run_console(const ProgramOptions& options, std::FILE* out = stdout);

// True when the settings file is missing, empty, or has no commport value:
// the first-run flow must create it.
bool settings_file_needs_creating();

// Writes the line settings of a new settings file (connect, baudrate,
// commport, interchardelay, altreadport, smallblock). Returns how many
// writes failed.
int write_new_settings_file();

}  // namespace ql
