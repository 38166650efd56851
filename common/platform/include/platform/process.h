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

#include "platform/file_handle.h"

namespace platform {

struct Process {
    int pid = -1;               // the program's process number; -1: no program
    std::intptr_t handle = -1;  // an OS object that tells when the program ends (opaque), or -1
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
// Windows: the program gets one command line, built from args so that its C
// runtime splits it into the same words again (quotes and the backslashes
// before them escaped); args[0] cannot hold a double quote (it is left
// out). path must name the program file itself, ".exe" included. No handle
// of this process is inherited: a console program shares the server's
// console, but standard streams redirected to files or pipes are not passed
// on. There are no signals to reset.
int process_start(const std::string& path, const std::vector<std::string>& args, Process& out);

// As process_start, for the program file open at program (a handle of
// program_open_beneath): the file that was checked is the one started,
// whatever has become of its name since. name is what the program sees as
// its own name when args is empty. The caller keeps the handle and may
// close it once this returns.
// POSIX (Linux): the program is started as /proc/self/fd/<n>, and the
// started program inherits exactly that one descriptor, its own file, open
// for reading: a "#!" script's interpreter reads the script through it (it
// sees /proc/self/fd/<n> as the script's name). No other descriptor leaks.
// Windows: the final path of the handle is started while the handle, which
// shares no writing or deleting, is held.
int process_start_held(FileHandle program, const std::string& name,
                       const std::vector<std::string>& args, Process& out);

// Waits up to timeout_ms for the program to end, sleeping (never spinning).
// kProcessEnded: exit_code holds the program's exit status (a program ended
// by a signal reports 128 + the signal number, so an abnormal end never
// reads as success) and the handle is closed (p.pid becomes -1). On
// Windows the status is the full 32-bit exit code: a program ended by an
// exception reports the exception's code (0xC0000005 reads as a negative
// number), never 0.
// kProcessRunning: still running after the wait.
// kProcessWaitFailed: p holds no program or the wait itself failed; the
// handle is closed.
int process_wait(Process& p, uint32_t timeout_ms, int& exit_code);

// Gives the handle up without waiting: the program keeps running, and it is
// reaped in the background the next time process_start or process_wait
// runs after it ended, so no defunct entry stays behind. p is emptied.
// (Windows keeps nothing of an ended program once its handle is closed.)
void process_release(Process& p);

// Splits a command line into words at blanks and tabs; double quotes group
// blanks into a word and are removed; "" gives an empty word.
std::vector<std::string> split_command_line(const std::string& line);

// Hands the command line to the system's command interpreter (/bin/sh -c
// on POSIX; %COMSPEC% /s /c "line" on Windows, which takes the line as it
// stands, its own quotes included) and waits for it. Returns the
// interpreter's status as the standard system() call reports it (the exit
// code on Windows): -1 when it could not be run. Nothing of this process
// but the standard streams reaches the interpreter.
int run_command_line(const std::string& line);

// As run_command_line for the line "<program> <rest>", where <program> is
// the program file open at program (a handle of program_open_beneath),
// written as one plain word: the file that was checked is the one the
// interpreter starts. POSIX: the interpreter and the program inherit that
// one descriptor (the word is /proc/self/fd/<n>). Windows: the word is the
// handle's final path, quoted, and the handle stays held while the line
// runs.
int run_command_line_held(FileHandle program, const std::string& rest);

// word written so that the command interpreter of run_command_line takes
// it as one plain word: nothing in it starts another command or redirects,
// and on POSIX nothing expands. Plain path characters stay as they are.
// POSIX: single quotes. Windows: double quotes; a double quote (which no
// Windows file name holds) cannot be written there and is left out. cmd
// has no way to quote a '%' on a command line: "%NAME%" with NAME a defined
// variable is still expanded (a lone '%' stays).
std::string command_line_word(const std::string& word);

}  // namespace platform
