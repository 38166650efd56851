// Started programs, OS-neutral.
//
// A Process is the handle of a program started by process_start. It is held
// until process_wait has seen the program end (the handle is then closed) or
// until process_release gives it up. Handles are plain values owned by one
// thread; nothing here is shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Process {
    int pid = -1;                // the program's process number; -1: no program
    std::intptr_t handle = -1;   // an OS object that tells when the program ends (opaque), or -1
};

// Results of process_wait.
inline constexpr int kProcessEnded = 0;
inline constexpr int kProcessRunning = 258;
inline constexpr int kProcessWaitFailed = -1;

// Starts the program at path with the given argument vector (args[0] is
// what the program sees as its own name; an empty vector gives it the path).
// The program inherits the environment, the current directory and the
// standard streams; no other descriptor of this process leaks into it
// (they are all opened close-on-exec), and its signal mask and the usual
// signal dispositions are reset to defaults. Returns 0 and fills out, or the
// error number when the program could not be started (missing, not
// executable, not a program).
int process_start(const std::string& path, const std::vector<std::string>& args, Process& out);

// Waits up to timeout_ms for the program to end, sleeping (never spinning).
// kProcessEnded: exit_code holds the program's exit status (a program ended
// by a signal reports 128 + the signal number, so an abnormal end never
// reads as success) and the handle is closed (p.pid becomes -1).
// kProcessRunning: still running after the wait.
// kProcessWaitFailed: p holds no program or the wait itself failed; the
// handle is closed.
int process_wait(Process& p, uint32_t timeout_ms, int& exit_code);

// Gives the handle up without waiting: the program keeps running, and it is
// reaped in the background the next time process_start or process_wait
// runs after it ended, so no defunct entry stays behind. p is emptied.
void process_release(Process& p);

// Splits a command line into words at blanks and tabs; double quotes group
// blanks into a word and are removed; "" gives an empty word.
std::vector<std::string> split_command_line(const std::string& line);

// Hands the command line to the system's command interpreter (/bin/sh -c
// on POSIX) and waits for it. Returns the interpreter's status as the
// standard system() call reports it: -1 when it could not be run.
int run_command_line(const std::string& line);

}  // namespace platform
