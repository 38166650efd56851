// Field option strings and the SCANNER flag string.
#include <string>

#include "formwright/settings.h"

namespace fw {

namespace {

constexpr size_t kTokenMax = 23;
constexpr size_t kMaskMax = 19;
constexpr size_t kFormatMax = 63;

// The leading decimal digits of text; 0 when there are none. Large values
// saturate instead of overflowing.
int leading_number(const std::string& text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        if (value < 100000) value = value * 10 + (c - '0');
    }
    return value;
}

int validation_code(char c) {
    switch (c) {
        case '2':
            return kMod10Dad;
        case '3':
            return kMod10Tat;
        case 'D':
        case 'd':
            return kValidDate;
        case 'T':
        case 't':
            return kValidTime;
        default:
            return kValidOff;
    }
}

// One token, blanks already removed, e.g. "-M10".
void apply_token(const std::string& token, FieldOptions& out) {
    if (token.size() < 2 || (token[0] != '-' && token[0] != '/')) return;
    const std::string rest = token.substr(2);
    switch (token[1]) {
        case 'M':
            out.accept_max = leading_number(rest);
            break;
        case 'm':
            out.accept_min = leading_number(rest);
            break;
        case 'S':
            out.scan_length = leading_number(rest);
            break;
        case 's':
            out.scan_off = true;
            out.scan_length = 0;
            break;
        case 'R':
        case 'r':
            out.right_to_left = true;
            break;
        case 'X':
        case 'x':
            out.mask = rest.substr(0, kMaskMax);
            break;
        case 'V':
        case 'v':
            if (!rest.empty()) out.validation = validation_code(rest[0]);
            break;
        default:
            break;
    }
}

void set_flag(std::string& flags, int position, bool on) {
    const size_t pos = static_cast<size_t>(position);
    if (pos >= flags.size()) {
        if (!on) return;
        flags.resize(pos + 1, '0');
    }
    if (on && flags[pos] == '0') flags[pos] = '1';
    if (!on && flags[pos] == '1') flags[pos] = '0';
}

// 1-based index of the first of count positions holding "1", 0 for none.
int first_on(const std::string& flags, int position, int count) {
    for (int i = 0; i < count; ++i) {
        const size_t pos = static_cast<size_t>(position + i);
        if (pos < flags.size() && flags[pos] == '1') return i + 1;
    }
    return 0;
}

}  // namespace

FieldOptions field_options_parse(const std::string& text) {
    FieldOptions out;
    std::string token;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        if (c == ',') {
            apply_token(token, out);
            token.clear();
        } else if (token.size() < kTokenMax) {
            token.push_back(c);
        }
    }
    apply_token(token, out);
    return out;
}

std::string field_options_format(const FieldOptions& o, const std::string& scan_length_text) {
    std::string out;
    auto add = [&out](const std::string& option) {
        if (!out.empty()) out += ',';
        out += option;
    };
    if (o.right_to_left) add("-R");
    if (o.scan_off) add("-s");
    if (o.accept_min != 0) add("-m" + std::to_string(o.accept_min));
    if (o.accept_max != 0) add("-M" + std::to_string(o.accept_max));
    if (!o.scan_off && !scan_length_text.empty()) {
        if (o.scan_length == 0) {
            add("-s");
        } else if (o.scan_length != o.accept_max) {
            add("-S" + std::to_string(o.scan_length));
        }
    }
    if (!o.mask.empty()) add("-X" + o.mask);
    switch (o.validation) {
        case kMod10Dad:
            add("-V2");
            break;
        case kMod10Tat:
            add("-V3");
            break;
        case kValidDate:
            add("-VD");
            break;
        case kValidTime:
            add("-VT");
            break;
        default:
            break;
    }
    if (out.size() > kFormatMax) out.resize(kFormatMax);
    return out;
}

ScannerChoice scanner_decode(const std::string& flags) {
    ScannerChoice choice;
    for (int i = 0; i < kScanLabelFlags; ++i) {
        choice.label[i] = static_cast<size_t>(i) < flags.size() && flags[i] == '1';
    }
    choice.msi_drop = first_on(flags, kMsiDropPos, 2);
    choice.msi_check = first_on(flags, kMsiCheckPos, 3);
    return choice;
}

std::string scanner_encode(const std::string& flags, const ScannerChoice& choice) {
    std::string out = flags;
    for (int i = 0; i < kScanLabelFlags; ++i) set_flag(out, i, choice.label[i]);
    for (int i = 0; i < 2; ++i) set_flag(out, kMsiDropPos + i, choice.msi_drop == i + 1);
    for (int i = 0; i < 3; ++i) set_flag(out, kMsiCheckPos + i, choice.msi_check == i + 1);
    return out;
}

std::string scanner_flag_on(const std::string& flags, int position) {
    std::string out = flags;
    set_flag(out, position, true);
    return out;
}

}  // namespace fw
