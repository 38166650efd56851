// Profile (INI-style) files: read one key, rewrite one key.
//
// Each call opens, scans and closes the file; nothing is kept between calls.
// Sections and keys are matched as prefixes ignoring case ("host" also finds
// "hostname=" when that line comes first). Lines are seen in pieces of at
// most 255 characters. Written lines end in CR LF; LF alone is read too.
// Every rewrite is crash-safe: the new content goes to a temporary file in
// the same folder, is flushed, and replaces the old file by a rename, so a
// crash leaves either the old or the new file, and bytes outside the edited
// line stay identical.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace profile {

// Special texts, passed instead of a default or a value (exact match).
inline constexpr const char* kGetRemOn = "GET REM ON";   // default: read commented keys
inline constexpr const char* kNoStrip = "NO STRIP";      // default: keep trailing blanks
inline constexpr const char* kTurnRemOn = "TURN REM ON";  // value: comment the key out
inline constexpr const char* kTurnRemOff = "TURN REM OFF";  // value: uncomment the key

// Result codes of profile_get.
enum GetResult {
    kFound = 0,           // value copied to result
    kNotFound = 1,        // key missing or file unreadable: default copied
    kEmptyValue = 2,      // "key=" with nothing after it: default copied
    kValueTooLong = 3,    // value as long as buffer_size or longer: default copied
    kDefaultTooLong = 4,  // default would not fit: result left unchanged
    kCommentedOut = 100,  // only ";key..." in the section: default copied
};

// Reads key in section. buffer_size plays the part of the caller's buffer:
// a value or default must be shorter than it. With kNoStrip as default,
// codes 1, 2, 3 and 100 leave result empty and code 4 does not occur.
int profile_get(const std::string& path, const char* section, const char* key, std::string& result,
                const char* default_value, size_t buffer_size);

// Result codes of profile_put and the two editing steps.
enum PutResult {
    kPutOk = 0,
    kOpenFailed = -100,
    kSeekFailed = -101,
    kShortRead = -103,
    kShortWrite = -104,
    kNoMemory = -106,
};

// Writes key=value into section (creating file, section or key as needed),
// or comments/uncomments the key with kTurnRemOn / kTurnRemOff. With
// section_only = 1 it only makes sure the section header exists.
int profile_put(const std::string& path, const char* section, const char* key, const char* value,
                int section_only = 0);

// Removes count bytes at offset.
int file_delete_range(const std::string& path, long offset, long count);

// Inserts count bytes at offset, moving the rest of the file up.
int file_insert_bytes(const std::string& path, const char* bytes, long offset, long count);

}  // namespace profile
