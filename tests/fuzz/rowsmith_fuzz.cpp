// rowsmith's conversion of a collected data file: the input is DATA.TXT.
// Inputs of odd length convert into an inventory file that already holds a
// header and a record, even ones into a new file.
//
// Checked: one record per complete line, the header only in a new file,
// and what follows the last line feed stays in DATA.TXT.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_support.h"
#include "rowsmith/convert.h"

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input = fuzz::bytes(data, size);
    std::string source = fuzz::write_file("DATA.TXT", input);
    std::string target = fuzz::scratch() + "/DEVSCAN.CSV";
    std::string before;
    if (size % 2 == 1) {
        before = rowsmith::header_line();
        rowsmith::append_record("L1,T1", 5, before);
    }
    fuzz::write_file("DEVSCAN.CSV", before);

    rowsmith::ConvertSettings settings;
    settings.open_attempts = 1;
    settings.wait_before_retry = [] {};
    rowsmith::ConvertOutcome outcome = rowsmith::convert(source, target, settings);

    const auto lines = static_cast<int64_t>(std::count(input.begin(), input.end(), '\n'));
    std::string after = read_all(target);
    if (outcome.result == rowsmith::kConverted) {
        if (outcome.lines != lines) __builtin_trap();
        // The old content stays; a header goes only into an empty file.
        if (after.compare(0, before.size(), before) != 0) __builtin_trap();
        const std::string& header = rowsmith::header_line();
        bool header_expected = !before.empty() || lines > 0;
        if (header_expected && after.compare(0, header.size(), header) != 0) __builtin_trap();
        // Every record is one line.
        size_t records = static_cast<size_t>(std::count(after.begin(), after.end(), '\n'));
        size_t expected = (header_expected ? 1 : 0) + (before.empty() ? 0 : 1) + lines;
        if (records != expected) __builtin_trap();
        size_t last = input.rfind('\n');
        std::string rest(last == std::string_view::npos ? input : input.substr(last + 1));
        if (read_all(source) != rest) __builtin_trap();
    } else if (size != 0) {
        // Nothing here may fail but an empty source, which counts as missing.
        __builtin_trap();
    }

    fuzz::remove_file("DATA.TXT");
    fuzz::remove_file("DEVSCAN.CSV");
    return 0;
}
