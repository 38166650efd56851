// DATA.TXT -> DEVSCAN.CSV: the inventory conversion.
//
// The conversion appends one 21-column record per line of the collected data
// file to the inventory file, writes the column header only into a new or
// empty inventory file, and removes the converted lines from the data file,
// so that a later run adds only what was collected since.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rowsmith {

// Results of convert(): 0 or one of these.
enum : int {
    kConverted = 0,
    kSourceOpenFailed = -1,    // the data file cannot be opened
    kTargetOpenFailed = -2,    // the inventory file cannot be opened (not a lock)
    kTargetLocked = -3,        // the inventory file stayed locked through every retry
    kHeaderWriteFailed = -4,   // the column header could not be written
    kRecordWriteFailed = -5,   // a record could not be written or flushed to disk
    kSourceReadFailed = -6,    // reading the data file failed part-way
    kSourceRemoveFailed = -7,  // the converted lines could not be removed from the data file
};

// One message for the operator: a caption and a text whose lines are
// separated by "\r\n".
struct Message {
    std::string caption;
    std::string text;
};

using MessageSink = std::function<void(const Message&)>;

// How convert() behaves around the operator and the clock.
struct ConvertSettings {
    // Receives every failure message; may be empty (messages are dropped).
    MessageSink show;
    // Attempts to open a locked inventory file, and the wait between two of
    // them (empty: 200 ms). Tests shorten the wait through this seam.
    int open_attempts = 100;
    std::function<void()> wait_before_retry;
};

// What one convert() call did.
struct ConvertOutcome {
    int result = kConverted;
    int64_t lines = 0;     // lines converted (and kept in the target)
    int system_error = 0;  // the OS error number behind a failure, else 0
};

// Converts every complete line of source into a record appended to target.
// On success the converted lines are gone from source: the file is deleted,
// or, when bytes follow the last line feed, cut down to those bytes. On any
// failure source is left as it was, target is returned to its length before
// the call where it can be, and one message goes to settings.show.
ConvertOutcome convert(const std::string& source, const std::string& target,
                       const ConvertSettings& settings);

// Length of a file in bytes, or 0 when it is missing or cannot be opened
// ("empty" and "missing" are the same thing to this program).
int64_t file_length(const std::string& path);

// The column header line, "\r\n" included.
const std::string& header_line();

// Appends the record for one input line (without its line feed and carriage
// returns) to out. Only the first two comma-separated fields are used, each
// cut to 63 characters; the line itself counts up to its first NUL byte.
void append_record(const char* line, size_t length, std::string& out);

// Message texts, shared by every front end.
Message open_failed_message(const std::string& path, int system_error);
Message write_failed_message(const std::string& path, int system_error);
Message read_failed_message(const std::string& path, int system_error);
Message remove_failed_message(const std::string& path, int system_error);

}  // namespace rowsmith
