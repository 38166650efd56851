// Running a program as a system service: registering it with the service
// manager, removing it, and running under it. Windows services only; on
// POSIX every call fails with ENOTSUP and an error text that points to the
// systemd unit, which does the same job there.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// What service_install registers.
struct ServiceSetup {
    std::string name;          // the service's name, also its event log source
    std::string display_name;  // shown by the services console
    std::string description;
    std::string program;                 // absolute path of the program to run
    std::vector<std::string> arguments;  // its arguments, quoted as the OS needs
    // Account the service runs as; empty: the local service account (no
    // password, few rights, network access as an anonymous caller).
    std::string account;
    std::string password;  // of a named account; ignored without one
    // Created when missing and made writable for the account (inherited by
    // everything inside it).
    std::string data_directory;
};

// Registers the service: started automatically at boot, started again 5 s
// after it fails (ends with a non-zero result or crashes), with an event log
// source of its name whose messages the program itself carries. Needs the
// rights of an administrator. Returns 0, or an error number with a
// sentence in error (EEXIST: a service of that name is registered already).
int service_install(const ServiceSetup& setup, std::string& error);

// Stops the service when it runs (waiting up to 10 s for it to end), then
// removes it and its event log source. The data directory is kept. Returns 0,
// or an error number with a sentence in error (ENOENT: no such service).
int service_remove(const std::string& name, std::string& error);

// The folder for data shared by every user of the machine, without a
// trailing separator: %ProgramData% on Windows ("C:\\ProgramData"). Empty
// when it cannot be had (and always on POSIX).
std::string shared_data_directory();

// Runs body as the service `name`, in a process the service manager started:
// reports the service running, makes data_directory the current directory
// (creating it), and calls body on the service's own thread. A stop or
// shutdown control from the service manager is passed to the handler of
// on_termination_request (platform/signals.h), exactly like Ctrl+C in a
// console; a log-off of any user is ignored. The service is reported
// stopped when body returns: with its result as the service's exit code
// when it is not 0, which the service manager counts as a failure. Start,
// stop and failure are written to the event log under the service's name.
// Returns body's result, or an error number with a sentence in error when
// the process was not started by the service manager or the folder cannot
// be made.
int service_run(const std::string& name, const std::string& data_directory,
                const std::function<int()>& body, std::string& error);

// True once the service manager has asked the running service to stop.
bool service_stop_requested();

// Waits up to ms milliseconds for a stop request of the service manager.
// Returns true when there is one.
bool service_wait_for_stop(int ms);

// Writes one line to the event log under the running service's source, as
// information or as an error. Does nothing outside service_run.
void service_report(const std::string& text, bool error);

}  // namespace platform
