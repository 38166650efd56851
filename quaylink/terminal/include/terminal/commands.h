// Local file and system commands of the terminal: the current subdirectory
// (CWD), the size check before a download (RECV), directory listings (DIR),
// copy, append and delete, starting and polling programs (LOAD, EXEC, STAT)
// and command lines (SYSTEM), with the file and process services they use.
//
// Names from the terminal. Terminals were built against a server whose
// paths use backslashes and ignore letter case, so every name a terminal
// sends goes through terminal_path: a backslash or a slash is a directory
// separator (written as this machine's own), a leading drive letter ("C:")
// of a name without a base folder is dropped where paths have no drives and
// kept on Windows, and each component that does not exist as sent is looked
// up ignoring letter case; a component that exists in neither form (a new
// file) is used exactly as sent.
//
// Everything here runs on the communication thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/beneath.h"
#include "platform/process.h"

namespace ql {

// The reply a command gives the terminal: a status character ('0' success,
// '1' failure, '8' busy) and a text. busy marks "8BUSY", which goes out with
// the lead byte ACK instead of STX.
struct CommandReply {
    char status = 0;
    std::string text;
    bool busy = false;

    // Status character followed by the text, as the terminal sees it.
    std::string line() const { return status == 0 ? std::string() : status + text; }
};

// Per-connection naming state, owned by the command loop.
struct Session {
    std::string workdir;  // working directory, ends in '/' (or empty: the current directory)
    std::string subdir;   // current subdirectory: empty or relative, ending in '/'
    // From the settings when the loop starts: names kept inside the working
    // folder tree (confine), and whether LOAD, EXEC and SYSTEM may run.
    bool confine = false;
    bool programs = true;
};

// Time-outs and retry counts; tests shorten them. Defaults: a program poll
// waits 5000 ms; a locked COPY/APPEND destination is tried 100 times, 200 ms
// apart.
struct CommandTimings {
    uint32_t poll_wait_ms = 5000;
    int copy_tries = 100;
    uint32_t copy_retry_ms = 200;
};
CommandTimings& command_timings();

// Starts clean: default timings, no started program (a running one is left
// running and reaped in the background).
void commands_reset();

// --- Names ---------------------------------------------------------------

// The path of a terminal's name below base (base is used as it stands; an
// empty base leaves the name relative to the current directory). See the
// rules at the top of this file. A name ending in a separator keeps it.
std::string terminal_path(const std::string& base, const std::string& name);

// Working directory + current subdirectory + name ("full name").
std::string full_name(const Session& s, const std::string& name);

// Working directory + name ("base name"), ignoring the current subdirectory.
std::string base_name(const Session& s, const std::string& name);

// The name exactly as sent, with the terminal path rules but no directory in
// front ("given name"), used by the forms whose keyword ends in D.
std::string given_name(const std::string& name);

// True when the terminal may use path: always while s.confine is off; with
// it on, only when path leads into the working folder tree (s.workdir, or
// the current directory when that is empty) once every symbolic link on
// the way is followed. "..", absolute names and drive letters that leave
// the tree, links that lead out of it and links that lead nowhere are
// refused; a refusal is logged as an error line.
bool name_allowed(const Session& s, const std::string& path);

// --- Names opened where they are checked ----------------------------------
// A name is checked and opened in one step, and the handle opened there is
// the one the command (or the transfer after it) uses: with s.confine on,
// the open is resolved beneath the working folder held open (platform
// beneath.h), so a file or a folder that is swapped for a link after the
// check cannot lead out of the tree; a refusal is logged as name_allowed
// does. With confine on, a regular file with more than one name (a hard
// link) is refused too and logged as "Hard-linked file, refused: <path>".
// Without confine, names are opened as paths. Each returns 0, kNameRefused
// (logged), or the error number of the open.
inline constexpr int kNameRefused = -1;

// Opens the regular file path (a read, or a write in place).
int open_name(const Session& s, const std::string& path, platform::FileAccess access,
              platform::FileHandle& out);

// Holds the folder path itself (a listing).
int hold_named_folder(const Session& s, const std::string& path, platform::HeldFolder& out);

// Holds the folder that path's file lies in (or will be created in) and
// gives the file's name in it (leaf), for a file that is created, replaced
// or removed there.
int hold_folder_of_name(const Session& s, const std::string& path, platform::HeldFolder& dir,
                        std::string& leaf);

// Opens the program path for starting it (platform process_start_held)
// with s.confine on, so that the file checked is the file started; out
// stays kNoFile with confine off, where programs are started by path.
int open_program(const Session& s, const std::string& path, platform::FileHandle& out);

// True when a new file may get this name: a name holding CR or LF is
// refused (and logged), since it would split listing and log lines.
bool creatable_name(const std::string& name);

// True when s allows LOAD, EXEC and SYSTEM; a refusal is logged with the
// command word.
bool programs_allowed(const Session& s, const std::string& word);

// --- File services ---------------------------------------------------------

// Length in bytes of a regular file; 0 when it is missing, cannot be opened
// for reading, or is not a regular file (an empty file also gives 0).
int64_t file_size(const std::string& path);

// Copies (append false) or appends (append true) source to destination.
// The source is opened for reading and shared with other readers; the
// destination is held exclusively while it is written. A destination that
// another process holds is tried again command_timings().copy_tries times,
// copy_retry_ms apart. A copy replaces the destination only when all of it
// has been written (through a temporary file beside it, where the folder
// allows one); an append that fails part-way is cut back to its old length.
// Source and destination naming the same file are refused without touching
// either. Returns 0 success; -1 the source cannot be opened or read; -2 the
// destination cannot be opened (or is the source); -3 the destination is
// still held by another process after the last try; -4 a write wrote less
// than it was given.
int copy_file(const std::string& source, const std::string& destination, bool append);

// Writes the listing of the folder search_dir into list_path (emptied
// first; binary, one line per file, folders and temporary files left out,
// the list file itself included when it lies in that folder; a list path
// that names anything but a regular file is refused without waiting) and
// fills reply: "0%s COUNT %d" with
// the list path and the count, "0ftpdir COUNT %d" when the path is longer
// than 100 characters, "1OPEN ERROR {List} [%s] " with the list path when it
// cannot be created, "1WRITE ERROR {List} [%s] " when it cannot be written.
// Returns 0 or -1.
int list_directory(const std::string& list_path, const std::string& search_dir,
                   CommandReply& reply);

// One listing line for a file.
std::string listing_line(const std::string& name, int64_t size, int64_t modified);

// --- Programs ----------------------------------------------------------------

// Starts the program at path: the file open at program when it is a handle
// (open_program), path itself otherwise. The command line is split at
// blanks (double quotes group) and its first word becomes the program's
// argv[0]; an empty command line gives argv[0] = path. Returns 0 and stores
// the handle, or -1.
int start_program(const std::string& path, const std::string& command_line,
                  platform::Process& handle, platform::FileHandle program = platform::kNoFile);

// Tests only: called between the check of a program's name and its start
// (LOAD, EXEC, SYSTEM), where a test plays another process at work on the
// folder. An empty hook (the default, and after commands_reset) does
// nothing.
void set_program_start_hook(std::function<void()> hook);

// Waits up to command_timings().poll_wait_ms for the program. Returns 0
// (ended: exit_code stored, handle closed), 258 (still running) or -1 (the
// wait failed; handle closed).
int poll_program(platform::Process& handle, int& exit_code);

// The program started by LOAD or EXEC, if any, kept until STAT sees it end.
bool started_program_running();

// Forgets the started program (start of every communication loop). A
// program still running is left to run and reaped in the background.
void started_program_clear();

// --- Commands ------------------------------------------------------------------
// Each takes the fields it uses and fills the reply.

// CWD: field 1 relative to the working directory; sets s.subdir.
void cmd_cwd(Session& s, const std::string& dir, CommandReply& reply);

// DIR: listing of the current folder into the list file (full name).
void cmd_dir(const Session& s, const std::string& list_name, CommandReply& reply);

// COPY / COPYD (append false) and APPEND / APPENDD (append true). given:
// the D form (base name of the source, given name of the destination).
void cmd_copy(const Session& s, const std::string& source, const std::string& destination,
              bool append, bool given, CommandReply& reply);

// DELETE / DELETED. Succeeds when no file is left under the name (a name
// that did not exist counts as deleted).
void cmd_delete(const Session& s, const std::string& name, bool given, CommandReply& reply);

// LOAD / LOADD: program (base or given name) with the command line
// "szXMFile -p<workdir> <parameter>". word is the command word, for the log.
void cmd_load(const Session& s, const std::string& word, const std::string& program,
              const std::string& parameter, bool given, CommandReply& reply);

// EXEC / EXECD: program with "-h<iphost> -s<ipport> <parameters>" from the
// settings (each part only when set).
void cmd_exec(const Session& s, const std::string& program, const std::string& parameters,
              bool given, CommandReply& reply);

// STAT: polls the started program.
void cmd_stat(CommandReply& reply);

// SYSTEM: runs "<workdir><program> <workdir> <parameter>" through the
// command interpreter when the program file exists and is not empty.
void cmd_system(const Session& s, const std::string& word, const std::string& program,
                const std::string& parameter, CommandReply& reply);

}  // namespace ql
