// Files and folders, OS-neutral.
//
// Error contract for the whole header: functions returning int give 0 on
// success and an errno value (<cerrno>) on failure, never a negative value;
// on Windows the system's own codes are mapped to errno values, so callers
// compare with ENOENT, EACCES, EISDIR on every system. Paths are narrow
// strings in the platform's own form; on POSIX the separator is '/'. On
// Windows names are UTF-8 (the wide API is used underneath) and both '\\'
// and '/' separate folders.
//
// Windows keeps some names for devices in every folder (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, also with an extension: "NUL.TXT"): such a name is
// never a file, and the functions below refuse it as they refuse a device
// (not_regular_error()), before anything is opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// The platform's directory separator ('/' on POSIX, '\\' on Windows).
char dir_separator();

// True when the path names an existing regular file or folder.
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// True when the path names a regular file (links followed).
bool is_regular_file(const std::string& path);

// The error number open_regular_file gives for a name that exists but is
// not a regular file (a pipe, a device, a socket); a folder gives EISDIR.
int not_regular_error();

// How open_regular_file opens a file.
enum class FileAccess {
    read,        // existing file, reading ("rb")
    read_write,  // existing file, reading and writing from the start ("r+b")
    write,       // created when missing, emptied ("wb")
    append,      // created when missing, every write at the end ("ab")
};

// Opens a file named by a terminal, a peer or a settings value. The open
// itself never waits: a pipe without a writer, a device or a file a network
// share is slow to answer is not waited for; the name is opened without
// blocking and then judged. Anything but a regular file (links followed) is
// refused before a byte is read or written: not_regular_error() for pipes,
// devices and sockets, EISDIR for a folder; a write-mode open has not
// created or emptied anything then. Once accepted, the stream does ordinary
// blocking reads and writes. Returns the stream (binary, close-on-exec) or
// null with error set to the error number.
// Windows: the open is shared for reading, writing and deleting (as on
// POSIX, nobody is locked out); an append stream has append-only rights, so
// every write lands at the end whoever else appends. Windows has no
// non-blocking open: a file on a network share that is slow to answer is
// waited for.
std::FILE* open_regular_file(const std::string& path, FileAccess access, int& error);

// Reads the whole of a regular file into out (see open_regular_file for
// what is refused). Returns 0 or the error number.
int read_file(const std::string& path, std::string& out);

// Replaces the file's content crash-safely: writes a temporary file (below)
// in the same folder, flushes it to disk, and renames it over the target.
// Either the old or the new content survives a crash at any point. An
// existing regular file keeps its permission bits; a new one gets mode (less
// the umask). A symbolic link at path is replaced, not written through.
// Windows: mode is not used (see commit_temp_file).
int write_file_atomic(const std::string& path, std::string_view data, unsigned mode = 0666);

// Appends data to the regular file, creating it when missing; the file is
// opened (without waiting, as open_regular_file) and closed within the call.
// Returns 0 or the error number. When opened is given it tells whether the
// file could be opened at all (a failure after that is a write error).
int append_file(const std::string& path, std::string_view data, bool* opened = nullptr);

// --- Temporary files ---------------------------------------------------------
// Every file written before it takes another file's place (a received file,
// a download, a copy, a rewritten settings file, a converted work file) is a
// temporary file made here, so that all of them share one recognisable name
// pattern: a leading ".qltmp-", 16 lowercase hexadecimal digits, "-", and
// the target's own name (cut to 120 bytes). A crash can leave such files
// behind; remove_stale_temp_files clears them and listings shown to users
// leave them out (is_temp_file_name).

// An open temporary file, owned by the functions below. A caller that has
// to close the stream itself (fclose) sets file to null afterwards: the file
// stays held through the second handle until commit or discard.
struct TempFile {
    std::FILE* file = nullptr;  // binary, open for reading and writing
    std::string path;           // its name, in the target's folder
    std::intptr_t held = -1;    // a second handle on the file (opaque)
    std::intptr_t dir = -1;     // POSIX: the held folder path is relative to (beneath.h)
};

// Creates a new, empty temporary file for target in target's folder under a
// fresh random name of the pattern above. The name is created exclusively:
// an existing entry of that name, a symbolic link included, is never opened
// or followed (another random name is tried instead, 32 names in all). The
// file is readable and writable by the owner only until commit, and it is
// held for as long as it is open, so remove_stale_temp_files in another
// process leaves it alone. Does not block. Returns 0 with out filled, or
// the error number (out.file null).
// Windows: the file takes the access rights its folder passes on (there are
// no owner-only bits to set). It is held by being open without delete
// sharing: while either handle is open nobody can delete or rename it, but
// it can still be read and written by name.
int create_temp_file(const std::string& target, TempFile& out);

// 0 when target is missing or a regular file (links followed), that is a
// name a temporary file may be committed over; EISDIR for a folder,
// not_regular_error() for a pipe, a device or a socket. Does not block.
int replaceable_target(const std::string& target);

// Makes the temporary file the target: flushes the stream (when still
// open) and the data to disk, sets the permission bits (those of an existing regular target, else
// mode less the umask), closes it and renames it over target. The rename
// replaces target's own folder entry: a symbolic link there is replaced, the
// file it pointed to is not touched. Returns 0, or the error number after
// removing the temporary file (target unchanged). t is empty afterwards.
// Windows: mode is not used; the file keeps the rights its folder passed
// on, and a target marked read-only is not replaced (EACCES). The file has
// to be closed before the rename (a held file cannot be renamed), so for
// that moment it is not held: should a cleaner in another process remove it
// then, the commit fails with ENOENT and the target is unchanged. A target
// another program has open without delete sharing is tried 5 times, 20 ms
// apart, then the commit fails (EBUSY or EACCES).
int commit_temp_file(TempFile& t, const std::string& target, unsigned mode = 0666);

// Closes and removes the temporary file, if any; t is empty afterwards.
void discard_temp_file(TempFile& t);

// True when name (no folder) has the temporary-file pattern above.
bool is_temp_file_name(std::string_view name);

// Removes the temporary files directly in folder dir that no running
// process holds open (left by a crash). Links and folders with such names
// are left alone. Does not block. Returns the number removed.
int remove_stale_temp_files(const std::string& dir);

// Deletes a file. Returns 0 or the error number (ENOENT when missing).
int remove_file(const std::string& path);

// Creates one folder (not its parents). Returns 0 or the error number.
int make_directory(const std::string& path);

// Size of a regular file in bytes, or -1 when it cannot be read.
int64_t file_size(const std::string& path);

// True when a new file could be created in the folder. (Windows: access
// rights are lists, not bits, so a temporary file is created there and
// removed again.)
bool directory_writable(const std::string& dir);

// Absolute path of the running executable, or empty when it cannot be had.
std::string executable_path();

// The current directory, or empty.
std::string current_directory();

// The user's configuration folder ($XDG_CONFIG_HOME or ~/.config on POSIX,
// %APPDATA% on Windows), without a trailing separator; empty when there is
// none.
std::string user_config_directory();

// The error number of the last failed system call on this thread (errno;
// the Windows side stores its mapped codes there).
int last_error();

// Flushes an open file by path to disk (used before deleting a source whose
// records were copied elsewhere). Returns 0 or the error number.
int sync_file(const std::string& path);

}  // namespace platform
