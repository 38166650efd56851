// The small JSON dialect of the status files: one object of names and plain
// values (strings, numbers, true, false, null), no nesting. Written by the
// server, read back by quaylink-status; a reader must survive any bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ql {

// One member of the object. text holds a string's decoded value, or the
// literal of a number, true, false or null as written.
struct FlatField {
    std::string name;
    std::string text;
    bool is_string = false;
};

using FlatObject = std::vector<FlatField>;

// text as a JSON string literal, quotes included: quotes, backslashes and
// control characters escaped; bytes of 128 and above are passed through
// (file names are UTF-8 or the system's code page; readers take bytes).
std::string json_quote(std::string_view text);

// Parses one object of plain members. Returns false (out holds what was
// read) for anything else: arrays, nested objects, broken syntax, trailing
// text, more than 200 members or a text longer than 64 KiB.
bool parse_flat_json(std::string_view text, FlatObject& out);

// Writes the object on one line per member, in the order given.
std::string write_flat_json(const FlatObject& object);

// Member access: the string value (or a number's literal); the integer
// value, or fallback when the member is missing or not a whole number.
const FlatField* flat_find(const FlatObject& object, std::string_view name);
std::string flat_text(const FlatObject& object, std::string_view name);
int64_t flat_int(const FlatObject& object, std::string_view name, int64_t fallback = 0);

// Members, built in order.
void flat_put(FlatObject& object, std::string name, std::string value);
void flat_put(FlatObject& object, std::string name, int64_t value);
// A time in seconds since 1970, or null when 0 (never happened).
void flat_put_time(FlatObject& object, std::string name, int64_t seconds);

}  // namespace ql
