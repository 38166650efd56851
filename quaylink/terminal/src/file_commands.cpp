// CWD, DIR, COPY, APPEND and DELETE, and the file services behind them.
#include <cerrno>
#include <cstdio>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "platform/dirs.h"
#include "platform/files.h"
#include "terminal/commands.h"
#include "terminal/frame.h"

namespace ql {

namespace {

constexpr size_t kCopyChunk = 1000;
constexpr size_t kListPathMax = 100;  // longer list paths are not echoed back

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

CommandReply make_reply(char status, std::string text) {
    CommandReply r;
    r.status = status;
    r.text = std::move(text);
    return r;
}

// The listing of a folder's files, one line each. Folders are left out, and
// so are our own temporary files and the line's status and metrics files:
// they are not files a terminal can use, and a terminal's listing must not
// change because the line is watched.
std::string listing_of(const platform::HeldFolder& dir, int& count) {
    std::vector<platform::DirEntry> entries;
    platform::list_held_folder(dir, entries);
    std::string out;
    count = 0;
    for (const auto& e : entries) {
        if (e.is_directory || platform::is_temp_file_name(e.name) ||
            line_status_owns(dir.path, e.name)) {
            continue;
        }
        out += listing_line(e.name, e.size, e.modified);
        ++count;
    }
    return out;
}

// " <path> INVALID DIRECTORY" names the folder tried from the root. A reply
// holds 124 characters: rather than a path cut in the middle, whose end the
// terminal would read as the folder's name, the name as the terminal sent
// it is repeated, or the reply says that it is too long to repeat.
std::string invalid_directory_text(const std::string& tested, const std::string& sent) {
    const std::string tail = " INVALID DIRECTORY";
    const size_t room = static_cast<size_t>(kReplyTextMax);
    if (1 + tested.size() + tail.size() <= room) return " " + tested + tail;
    if (1 + sent.size() + tail.size() <= room) return " " + sent + tail;
    return tail + " (name too long to repeat)";
}

// Writes the listing of folder into the open list file (the stream takes
// list) and fills reply as list_directory says.
int write_listing(platform::FileHandle& list, const platform::HeldFolder& folder,
                  const std::string& list_path, CommandReply& reply) {
    int error = 0;
    std::FILE* f = platform::stream_from_handle(list, platform::FileAccess::write, error);
    if (f == nullptr) {
        platform::file_close(list);
        reply = make_reply('1', strformat("OPEN ERROR {List} [%s] ", list_path.c_str()));
        return -1;
    }
    int count = 0;
    std::string text = listing_of(folder, count);
    bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0) written = false;
    if (!written) {
        reply = make_reply('1', strformat("WRITE ERROR {List} [%s] ", list_path.c_str()));
        return -1;
    }
    if (list_path.size() <= kListPathMax) {
        reply = make_reply('0', strformat("%s COUNT %d", list_path.c_str(), count));
    } else {
        reply = make_reply('0', strformat("ftpdir COUNT %d", count));
    }
    return 0;
}

}  // namespace

int64_t file_size(const std::string& path) {
    int64_t size = platform::readable_file_size(path);
    return size < 0 ? 0 : size;
}

int copy_file(const std::string& source, const std::string& destination, bool append) {
    const CommandTimings& t = command_timings();
    return platform::copy_file_locked(source, destination, append, t.copy_tries, t.copy_retry_ms,
                                      kCopyChunk);
}

std::string listing_line(const std::string& name, int64_t size, int64_t modified) {
    platform::LocalTime t = platform::local_time_of(modified);
    const char* month = (t.month >= 1 && t.month <= 12) ? kMonths[t.month - 1] : "???";
    // Precision 0: an empty file shows a blank size column. A name with a
    // control character in it (made by some other program) is escaped, so
    // every file stays one line and the count stays true.
    return strformat("-rwxrwxrwx  1  hbr       hbr %8.ld %s %2.2d %2.2d:%2.2d %s\n",
                     static_cast<long>(size), month, t.day, t.hour, t.minute,
                     log_escape(name).c_str());
}

int list_directory(const std::string& list_path, const std::string& search_dir,
                   CommandReply& reply) {
    // Created before the search, so the list file is part of its own listing.
    // Only a regular file is written: a pipe or a device is refused at once.
    platform::FileHandle list = platform::kNoFile;
    platform::HeldFolder folder;
    if (platform::file_open_regular(list_path, platform::FileAccess::write, list) != 0) {
        reply = make_reply('1', strformat("OPEN ERROR {List} [%s] ", list_path.c_str()));
        return -1;
    }
    platform::folder_hold(search_dir, folder);
    int rc = write_listing(list, folder, list_path, reply);
    platform::folder_release(folder);
    return rc;
}

void cmd_cwd(Session& s, const std::string& dir, CommandReply& reply) {
    // Relative to the working directory, never to the current subdirectory.
    std::string tested = terminal_path(s.workdir, dir);
    if (!name_allowed(s, tested) || !platform::path_exists(tested.empty() ? "." : tested)) {
        reply = make_reply('1', invalid_directory_text(tested, dir));
        s.subdir.clear();
        return;
    }
    const char sep = platform::dir_separator();
    std::string sub = dir;
    for (char& c : sub) {
        if (c == '\\' || c == '/') c = sep;
    }
    if (!sub.empty() && sub.back() != sep) sub += sep;
    s.subdir = sub;
    reply = make_reply('0', "");
}

void cmd_dir(const Session& s, const std::string& list_name, CommandReply& reply) {
    std::string list_path = full_name(s, list_name);
    std::string folder_path = terminal_path(s.workdir, s.subdir);
    platform::FileHandle list = platform::kNoFile;
    platform::HeldFolder folder;
    // Both opened as they are checked; the listing reads the folder held.
    if (!creatable_name(list_name) || hold_named_folder(s, folder_path, folder) != 0 ||
        open_name(s, list_path, platform::FileAccess::write, list) != 0) {
        platform::folder_release(folder);
        reply = make_reply('1', strformat("OPEN ERROR {List} [%s] ", list_path.c_str()));
        return;
    }
    write_listing(list, folder, list_path, reply);
    platform::folder_release(folder);
}

void cmd_copy(const Session& s, const std::string& source, const std::string& destination,
              bool append, bool given, CommandReply& reply) {
    std::string from = given ? base_name(s, source) : full_name(s, source);
    std::string to = given ? given_name(destination) : full_name(s, destination);
    platform::FileHandle in = platform::kNoFile;
    platform::HeldFolder dir;
    std::string leaf;
    int rc = platform::kCopyDestinationFailed;
    // The source and the destination's folder are opened as they are
    // checked, and the copy goes through those handles.
    if (creatable_name(destination) && open_name(s, from, platform::FileAccess::read, in) == 0 &&
        hold_folder_of_name(s, to, dir, leaf) == 0) {
        const CommandTimings& t = command_timings();
        platform::CopyLimits how{t.copy_tries, t.copy_retry_ms, s.confine};
        // The source is shared with other readers; one a writer holds fails.
        rc = platform::file_hold_shared(in) != 0 ? platform::kCopySourceFailed : platform::kCopyOk;
        if (rc == platform::kCopyOk) {
            platform::remove_stale_temp_files_in(dir);
            rc = platform::copy_into_held(in, dir, leaf, append, how, kCopyChunk);
        }
    }
    platform::file_close(in);
    platform::folder_release(dir);
    const char* what = append ? "APPEND" : "COPY";
    reply = make_reply(rc == 0 ? '0' : '1',
                       strformat("%s %s", what, rc == 0 ? "SUCCESSFUL" : "FAILED"));
}

void cmd_delete(const Session& s, const std::string& name, bool given, CommandReply& reply) {
    std::string path = given ? given_name(name) : full_name(s, name);
    platform::HeldFolder dir;
    std::string leaf;
    int err = hold_folder_of_name(s, path, dir, leaf);
    if (err == 0) err = platform::remove_in(dir, leaf);
    platform::folder_release(dir);
    // Judged by what is left: a name that never existed (nor its folder)
    // counts as deleted, but a file (even an empty one) or a folder that is
    // still there does not.
    bool gone = err == 0 || err == ENOENT || err == ENOTDIR;
    reply = make_reply(gone ? '0' : '1', gone ? "DELETE SUCCESSFUL" : "DELETE FAILED");
}

}  // namespace ql
