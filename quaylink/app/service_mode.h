// The server as a Windows service, one per line: installing, removing and
// running it. The service runs the console server (run_console) of its line;
// the service manager's stop is the same request as Ctrl+C.
#pragma once

#include <string>

#include "options.h"

namespace ql {

// True for a line name that may become part of a service and a folder name:
// 1 to 64 letters, digits, '.', '-' or '_', not starting with '.'.
bool valid_line_name(const std::string& name);

// "Quaylink NAME": the service's name, display name and event log source.
std::string service_name_of(const std::string& line);

// --install-service NAME [--config PATH] [--account USER]: registers the
// service of the line. Prints what it did or why it could not. Returns the
// exit status (0, or 1).
int install_service(const ProgramOptions& options);

// --remove-service NAME. Returns the exit status (0, or 1).
int remove_service(const ProgramOptions& options);

// --service NAME: what the service manager starts. Serves the line again
// and again as the systemd unit does (a direct line ends after each
// session: the next one is served 5 s later) until the service manager
// stops it; a line that cannot be served ends the service with status 1,
// and the service manager starts it again 5 s later. Status lines go to
// service.log in the line's folder.
int run_service(const ProgramOptions& options);

}  // namespace ql
