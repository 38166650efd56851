// quaylink-status: which files it finds, how it judges each line, and what
// the table, the JSON list and the exit status say.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "foundation/flat_json.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "status_report.h"
#include "temp_dir.h"

using testing_support::TempDir;

namespace {

const std::string sep(1, platform::dir_separator());
constexpr int64_t kNow = 1800000000;
// No system hands out process numbers this high.
constexpr int64_t kGonePid = 2147480000;

std::string status_json(const std::string& line, int64_t pid, const std::string& state,
                        const std::string& more = "") {
    return "{\"format\": 1, \"line\": \"" + line + "\", \"pid\": " + std::to_string(pid) +
           ", \"state\": \"" + state + "\", \"state_since\": " + std::to_string(kNow - 300) +
           ", \"port\": \"/dev/ttyUSB0\", \"last_frame_time\": " + std::to_string(kNow - 180) +
           ", \"files_received\": 12, \"files_sent\": 3, \"commands_failed\": 1" + more + "}";
}

class StatusReport : public ::testing::Test {
  protected:
    // root/<name>/quaylink.status with the text.
    std::string line_file(const std::string& name, const std::string& text) {
        platform::make_directory(dir.path() + sep + name);
        return dir.write(name + sep + "quaylink.status", text);
    }
    std::vector<ql::LineReport> read_all() {
        std::vector<ql::LineReport> lines;
        for (const std::string& path : ql::find_status_files({}, dir.path()))
            lines.push_back(ql::read_line_report(path));
        return lines;
    }

    TempDir dir;
    const int64_t me = platform::current_process_id();
};

TEST_F(StatusReport, EachLineIsJudgedByItsStateAndItsWriter) {
    line_file("a-ready", status_json("cradle1", me, "READY"));
    line_file("b-stale", status_json("cradle2", kGonePid, "TRANSFER"));
    line_file("c-ended", status_json("cradle3", kGonePid, "ENDED"));
    line_file("d-failed", status_json("cradle4", me, "FAILED"));
    line_file("e-broken", "{\"state\": \"READY\", \"pid\": ");
    line_file("f-moving", status_json("cradle6", me, "TRANSFER",
                                      ", \"command\": \"RECV\", \"transfer_direction\": \"in\", "
                                      "\"transfer_file\": \"DATA.TXT\", \"transfer_done\": 400, "
                                      "\"transfer_total\": 1000"));
    platform::make_directory(dir.path() + sep + "g-empty");  // no status file: not a line

    std::vector<ql::LineReport> lines = read_all();
    ASSERT_EQ(lines.size(), 6u);
    const std::pair<const char*, bool> expected[] = {{"READY", false},     {"DOWN", true},
                                                     {"ENDED", true},      {"FAILED", true},
                                                     {"UNREADABLE", true}, {"TRANSFER", false}};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].shown_state, expected[i].first) << lines[i].path;
        EXPECT_EQ(lines[i].down, expected[i].second) << lines[i].path;
    }
    EXPECT_EQ(ql::exit_status(lines), 1);
    EXPECT_EQ(ql::exit_status({lines[0], lines[5]}), 0);
    EXPECT_EQ(ql::exit_status({}), 1) << "no line found is no all-clear";

    std::string table = ql::format_table(lines, kNow, false);
    std::istringstream rows(table);
    std::string row;
    while (std::getline(rows, row)) EXPECT_LE(row.size(), 79u) << row;
    EXPECT_NE(table.find("cradle1   READY            5 min   ttyUSB0    3 min ago   "
                         "         12/3    1"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("in 40%"), std::string::npos) << table;
    EXPECT_NE(table.find("    RECV DATA.TXT 400 of 1000 bytes"), std::string::npos) << table;
    EXPECT_NE(table.find("e-broken  UNREADABLE"), std::string::npos) << table;
    EXPECT_NE(table.find("    not a status file: "), std::string::npos) << table;

    std::string colours = ql::format_table(lines, kNow, true);
    EXPECT_NE(colours.find("\x1b[32mREADY"), std::string::npos);
    EXPECT_NE(colours.find("\x1b[31mDOWN"), std::string::npos);

    std::string json = ql::format_json(lines);
    EXPECT_EQ(json.front(), '[');
    EXPECT_NE(json.find("\"shown_state\": \"DOWN\",\n  \"up\": false"), std::string::npos) << json;
    EXPECT_NE(json.find("\"line\": \"cradle6\""), std::string::npos) << json;
}

TEST_F(StatusReport, RowsStayInsideEightyColumnsWhateverTheFilesHold) {
    line_file("long", status_json(std::string(200, 'n'), me, "WAITING FOR CALL",
                                  ", \"last_error_time\": 1, \"last_error\": \"" +
                                      std::string(300, 'e') + "\\u001b[2J\""));
    std::string table = ql::format_table(read_all(), kNow, false);
    EXPECT_EQ(table.find('\x1b'), std::string::npos) << "a control sequence from a file";
    std::istringstream rows(table);
    std::string row;
    while (std::getline(rows, row)) EXPECT_LE(row.size(), 79u) << row;
}

TEST_F(StatusReport, FoldersAndFilesOnTheCommandLine) {
    line_file("a", status_json("one", me, "READY"));
    line_file("b", status_json("two", me, "READY"));
    // As the program joins them (either separator works on Windows).
    std::string a = dir.path() + sep + "a" + sep + "quaylink.status";
    std::string b = dir.path() + sep + "b" + sep + "quaylink.status";
    EXPECT_EQ(ql::find_status_files({}, dir.path()), (std::vector<std::string>{a, b}));
    EXPECT_EQ(ql::find_status_files({dir.path()}, "/nowhere"), (std::vector<std::string>{a, b}));
    EXPECT_EQ(ql::find_status_files({dir.path() + sep + "b", a}, "/nowhere"),
              (std::vector<std::string>{a, b}));
    std::string missing = dir.path() + sep + "none.status";
    ql::LineReport r = ql::read_line_report(ql::find_status_files({missing}, "")[0]);
    EXPECT_EQ(r.shown_state, "UNREADABLE");
}

TEST(StatusOptions, WordsOfTheCommandLine) {
    struct Case {
        std::vector<const char*> words;
        bool json;
        int watch;
        bool error;
    };
    const Case cases[] = {
        {{"--json", "/srv/lines"}, true, 0, false},
        {{"--watch", "5"}, false, 5, false},
        {{"--watch=2"}, false, 2, false},
        {{"--watch", "0"}, false, 0, true},
        {{"--watch"}, false, 0, true},
        {{"--watch=x"}, false, 0, true},
        {{"--colour"}, false, 0, true},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv{const_cast<char*>("quaylink-status")};
        for (const char* w : c.words) argv.push_back(const_cast<char*>(w));
        ql::StatusOptions o = ql::parse_status_options(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(o.json, c.json) << c.words[0];
        EXPECT_EQ(o.watch_seconds, c.watch) << c.words[0];
        EXPECT_EQ(!o.error.empty(), c.error) << c.words[0];
    }
}

}  // namespace

// Where the services keep their working folders, when no folder is given.
#ifdef _WIN32
TEST(StatusRoot, TheServicesFoldersAreUnderProgramData) {
    const char* data = std::getenv("ProgramData");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(platform::line_folders_root(), std::string(data) + "\\Quaylink");
}
#else
TEST(StatusRoot, TheServicesFoldersAreUnderVarLib) {
    EXPECT_EQ(platform::line_folders_root(), "/var/lib/quaylink");
}
#endif
