#include "foundation/flat_json.h"

#include <cerrno>
#include <cstdlib>

namespace ql {

namespace {

constexpr size_t kMaxMembers = 200;
constexpr size_t kMaxText = 64 * 1024;

class Reader {
  public:
    explicit Reader(std::string_view text) : s_(text) {}

    void skip_blanks() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool take(char c) {
        skip_blanks();
        if (i_ >= s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    bool at_end() {
        skip_blanks();
        return i_ == s_.size();
    }

    bool string(std::string& out) {
        if (!take('"')) return false;
        out.clear();
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (out.size() >= kMaxText) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            if (!escape(s_[i_++], out)) return false;
        }
        return false;
    }

    // A number, true, false or null, kept as its literal.
    bool literal(std::string& out) {
        skip_blanks();
        size_t start = i_;
        while (i_ < s_.size() && literal_char(s_[i_])) ++i_;
        out.assign(s_.substr(start, i_ - start));
        if (out == "true" || out == "false" || out == "null") return true;
        if (out.empty() || out.size() > 32) return false;
        char* end = nullptr;
        errno = 0;
        std::strtod(out.c_str(), &end);
        return end == out.c_str() + out.size() && errno == 0;
    }

  private:
    static bool literal_char(char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '+' ||
               c == '.' || c == 'E';
    }

    bool escape(char e, std::string& out) {
        switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                return unicode(out);
            default:
                return false;
        }
    }

    // \uXXXX as UTF-8; a lone surrogate half becomes U+FFFD.
    bool unicode(std::string& out) {
        if (i_ + 4 > s_.size()) return false;
        unsigned code = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[i_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
        }
        if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

std::string json_quote(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

bool parse_flat_json(std::string_view text, FlatObject& out) {
    out.clear();
    Reader r(text);
    if (!r.take('{')) return false;
    if (r.take('}')) return r.at_end();
    for (;;) {
        if (out.size() >= kMaxMembers) return false;
        FlatField f;
        if (!r.string(f.name) || !r.take(':')) return false;
        r.skip_blanks();
        Reader probe = r;
        if (probe.take('"')) {
            if (!r.string(f.text)) return false;
            f.is_string = true;
        } else if (!r.literal(f.text)) {
            return false;
        }
        out.push_back(std::move(f));
        if (r.take(',')) continue;
        return r.take('}') && r.at_end();
    }
}

std::string write_flat_json(const FlatObject& object) {
    std::string out = "{\n";
    for (size_t i = 0; i < object.size(); ++i) {
        const FlatField& f = object[i];
        out += "  " + json_quote(f.name) + ": " + (f.is_string ? json_quote(f.text) : f.text);
        out += i + 1 < object.size() ? ",\n" : "\n";
    }
    out += "}\n";
    return out;
}

const FlatField* flat_find(const FlatObject& object, std::string_view name) {
    for (const FlatField& f : object)
        if (f.name == name) return &f;
    return nullptr;
}

std::string flat_text(const FlatObject& object, std::string_view name) {
    const FlatField* f = flat_find(object, name);
    return f == nullptr || (!f->is_string && f->text == "null") ? std::string() : f->text;
}

int64_t flat_int(const FlatObject& object, std::string_view name, int64_t fallback) {
    const FlatField* f = flat_find(object, name);
    if (f == nullptr || f->is_string || f->text.empty()) return fallback;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(f->text.c_str(), &end, 10);
    if (errno != 0 || end != f->text.c_str() + f->text.size()) return fallback;
    return v;
}

void flat_put(FlatObject& object, std::string name, std::string value) {
    object.push_back({std::move(name), std::move(value), true});
}

void flat_put(FlatObject& object, std::string name, int64_t value) {
    object.push_back({std::move(name), std::to_string(value), false});
}

void flat_put_time(FlatObject& object, std::string name, int64_t seconds) {
    object.push_back({std::move(name), seconds > 0 ? std::to_string(seconds) : "null", false});
}

}  // namespace ql
