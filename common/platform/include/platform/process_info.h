// This process and others, OS-neutral: what a status file needs to say who
// wrote it, and what a reader needs to tell a live writer from a dead one.
#pragma once

#include <string>

namespace platform {

// The process number of the running program.
int current_process_id();

// True when a process with this number exists (it may belong to another
// user). pid <= 0 never exists. A number can be reused after its process
// ended, so a true answer is "probably still that program", a false one is
// certain.
bool process_exists(int pid);

// The folder under which the installed services keep one working folder per
// line: /var/lib/quaylink on POSIX; %ProgramData%\Quaylink on Windows
// (C:\ProgramData\Quaylink when the variable is not set).
std::string line_folders_root();

// True when standard output is a terminal (a console on Windows) that shows
// colour and cursor sequences; on Windows the console's sequence mode is
// switched on here, and false is returned when it cannot be.
bool stdout_shows_sequences();

}  // namespace platform
