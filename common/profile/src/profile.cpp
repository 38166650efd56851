// Profile file reader and writer.
//
// The file is scanned the way a C program with a 256-byte fgets buffer sees
// it: pieces of at most 255 characters, each ending at a line feed or at the
// buffer's end. Keeping that view matters, because a long line's second
// piece can start a section or match a key, and files written by the older
// programs rely on the same reading.
#include "profile/profile.h"

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/files.h"

namespace profile {

namespace {

constexpr size_t kPieceMax = 255;

struct Piece {
    size_t offset;          // byte offset of the piece in the file
    std::string_view text;  // piece including its line end, if any
};

// Splits data into fgets-style pieces.
std::vector<Piece> split_pieces(std::string_view data) {
    std::vector<Piece> pieces;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t len = 0;
        while (pos + len < data.size() && len < kPieceMax) {
            ++len;
            if (data[pos + len - 1] == '\n') break;
        }
        pieces.push_back({pos, data.substr(pos, len)});
        pos += len;
    }
    return pieces;
}

bool starts_with_nocase(std::string_view text, const char* prefix) {
    size_t n = std::strlen(prefix);
    return text.size() >= n && ::strncasecmp(text.data(), prefix, n) == 0;
}

bool is_header_for(std::string_view line, const char* section) {
    return !line.empty() && line[0] == '[' && starts_with_nocase(line.substr(1), section);
}

// Text-mode view of the file: CR LF pairs become LF.
std::string text_mode(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out.push_back(raw[i]);
    }
    return out;
}

std::string_view strip_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// The value part of a matching key line: cut at the first ';' that follows
// another character, trailing blanks removed unless asked to keep them.
std::string clean_value(std::string_view value, bool keep_blanks) {
    size_t semi = value.find(';', 1);
    if (semi != std::string_view::npos) value = value.substr(0, semi);
    std::string out(value);
    if (!keep_blanks) {
        while (out.size() > 1 && out.back() == ' ') out.pop_back();
    }
    return out;
}

int map_write_error(int err) {
    if (err == ENOMEM) return kNoMemory;
    if (err == EACCES || err == EPERM || err == EROFS || err == ENOENT || err == EISDIR ||
        err == ENOTDIR)
        return kOpenFailed;
    return kShortWrite;
}

int replace_file(const std::string& path, const std::string& content) {
    int err = platform::write_file_atomic(path, content);
    return err == 0 ? kPutOk : map_write_error(err);
}

// Reads the whole file; a missing file is reported through missing.
int load_raw(const std::string& path, std::string& raw, bool* missing) {
    int err = platform::read_file(path, raw);
    if (missing != nullptr) *missing = (err == ENOENT);
    if (err == 0) return kPutOk;
    if (err == ENOMEM) return kNoMemory;
    if (err == EIO) return kShortRead;
    return kOpenFailed;
}

// Which key lines an edit takes: uncommenting wants ";key", commenting also
// takes a line that is already commented (so twice gives ";;key"), a plain
// write wants the key at the start of the line.
bool key_line_matches(std::string_view line, const char* key, bool rem_on, bool rem_off) {
    if (rem_off) return !line.empty() && line[0] == ';' && starts_with_nocase(line.substr(1), key);
    if (rem_on) {
        while (!line.empty() && line[0] == ';') line.remove_prefix(1);
    }
    return starts_with_nocase(line, key);
}

// Text to add at the end of a file: a line end first when the last line
// has none, so the new text never glues onto it.
std::string at_end(const std::string& raw, const std::string& text) {
    if (!raw.empty() && raw.back() != '\n') return "\r\n" + text;
    return text;
}

}  // namespace

int profile_get(const std::string& path, const char* section, const char* key, std::string& result,
                const char* default_value, size_t buffer_size) {
    const bool rem_on = std::strcmp(default_value, kGetRemOn) == 0;
    const bool no_strip = std::strcmp(default_value, kNoStrip) == 0;
    int code = kNotFound;

    std::string raw;
    if (platform::read_file(path, raw) == 0) {
        const std::string text = text_mode(raw);
        bool in_section = false;
        for (const Piece& piece : split_pieces(text)) {
            std::string_view line = piece.text;
            if (!in_section) {
                in_section = is_header_for(line, section);
                continue;
            }
            if (!line.empty() && line[0] == '[') break;
            if (!line.empty() && line[0] == ';') {
                if (!rem_on) {
                    if (starts_with_nocase(line.substr(1), key)) code = kCommentedOut;
                    continue;
                }
                line.remove_prefix(1);
            }
            // A C reader's line ends at a NUL byte, and so does the value: the
            // bytes after it would not survive the next rewrite of the key.
            line = strip_line_end(line.substr(0, line.find('\0')));
            if (!starts_with_nocase(line, key)) continue;
            size_t eq = line.find('=');
            if (eq == std::string_view::npos) continue;
            std::string_view value = line.substr(eq + 1);
            if (value.empty()) {
                code = kEmptyValue;
                break;
            }
            if (value.size() >= buffer_size) {
                code = kValueTooLong;
                break;
            }
            result = clean_value(value, no_strip);
            return kFound;
        }
    }

    if (no_strip) {
        result.clear();
        return code;
    }
    if (std::strlen(default_value) >= buffer_size) return kDefaultTooLong;
    result = default_value;
    return code;
}

int profile_put(const std::string& path, const char* section, const char* key, const char* value,
                int section_only) {
    try {
        const bool rem_on = std::strcmp(value, kTurnRemOn) == 0;
        const bool rem_off = std::strcmp(value, kTurnRemOff) == 0;
        const std::string header = std::string("[") + section + "]\r\n";
        const std::string key_line = std::string(key) + "=" + value + "\r\n";

        std::string raw;
        bool missing = false;
        int rc = load_raw(path, raw, &missing);
        if (missing) {
            // Commenting a key of a file that does not exist changes nothing.
            if (rem_on || rem_off) return kPutOk;
            return replace_file(path, section_only ? header : header + key_line);
        }
        if (rc != kPutOk) return rc;

        bool found_section = false;
        size_t stop = raw.size();
        const Piece* match = nullptr;
        const std::vector<Piece> pieces = split_pieces(raw);
        for (const Piece& piece : pieces) {
            std::string_view line = piece.text;
            if (!line.empty() && line[0] == '[') {
                if (found_section && !section_only) {
                    stop = piece.offset;
                    break;
                }
                if (starts_with_nocase(line.substr(1), section)) {
                    found_section = true;
                    if (section_only) break;
                }
                continue;
            }
            if (!found_section) continue;
            bool hit = key_line_matches(line, key, rem_on, rem_off);
            if (hit) {
                match = &piece;
                break;
            }
        }

        if (section_only) {
            if (found_section) return kPutOk;
            return replace_file(path, raw + at_end(raw, header));
        }
        if (match != nullptr) {
            std::string old(match->text);
            std::string repl = rem_on ? ";" + old : rem_off ? old.substr(1) : key_line;
            std::string out = raw;
            out.replace(match->offset, old.size(), repl);
            return replace_file(path, out);
        }
        if (rem_on || rem_off) return kPutOk;
        if (!found_section) return replace_file(path, raw + at_end(raw, header + key_line));
        std::string out = raw;
        if (stop == raw.size()) {
            out += at_end(raw, key_line);
        } else {
            out.insert(stop, key_line);
        }
        return replace_file(path, out);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

int file_delete_range(const std::string& path, long offset, long count) {
    try {
        std::string raw;
        int rc = load_raw(path, raw, nullptr);
        if (rc != kPutOk) return rc;
        if (offset < 0 || count < 0 || static_cast<size_t>(offset) > raw.size()) return kSeekFailed;
        if (static_cast<size_t>(offset + count) > raw.size()) return kShortRead;
        raw.erase(static_cast<size_t>(offset), static_cast<size_t>(count));
        return replace_file(path, raw);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

int file_insert_bytes(const std::string& path, const char* bytes, long offset, long count) {
    try {
        std::string raw;
        int rc = load_raw(path, raw, nullptr);
        if (rc != kPutOk) return rc;
        if (offset < 0 || count < 0 || static_cast<size_t>(offset) > raw.size()) return kSeekFailed;
        raw.insert(static_cast<size_t>(offset), bytes, static_cast<size_t>(count));
        return replace_file(path, raw);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
}

}  // namespace profile
