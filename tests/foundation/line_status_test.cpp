// The line's status: what the status file and the metrics say after a known
// sequence of events, and the JSON dialect they are written in.
#include <gtest/gtest.h>

#include "foundation/flat_json.h"
#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "recording_view.h"
#include "temp_dir.h"

using testing_support::TempDir;

namespace {

const std::string sep(1, platform::dir_separator());

class LineStatusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::line_status_reset();
        ql::log_reset();
        ql::settings_reset_defaults();
        ql::server_paths_set(dir.path(), "cradle7.ini");
    }
    void TearDown() override {
        ql::line_status_reset();
        ql::log_reset();
    }
    // The settings file's [setup] lines, then the settings loaded.
    void ini(const std::string& setup) {
        dir.write("cradle7.ini", "[setup]\r\nconnect=direct\r\n" + setup);
        ql::settings_load();
    }
    // The published status file, read back.
    ql::FlatObject published() {
        ql::line_status_flush();
        ql::FlatObject o;
        EXPECT_TRUE(ql::parse_flat_json(dir.read("quaylink.status"), o))
            << dir.read("quaylink.status");
        return o;
    }
    std::string state() { return ql::flat_text(published(), "state"); }

    TempDir dir;
    testing_support::RecordingView view;
};

TEST_F(LineStatusTest, StatesAndCountersAfterAKnownSession) {
    ini("metricsfile=lines.prom\r\n");
    ql::line_status_configure("", "");
    ql::line_status_open("COM3");
    EXPECT_EQ(state(), "STARTING");
    ql::line_status_session(4);
    ql::line_status_state(ql::LineState::kReady);
    EXPECT_EQ(state(), "READY");

    ql::line_status_command("LINEBID");
    EXPECT_EQ(state(), "BUSY");
    ql::line_status_command("BOGUS");
    ql::line_status_command_failed();
    ql::line_status_line_error();

    // A download whose middle the file shows, then an upload that fails.
    ql::line_status_command("RECV");
    ql::line_status_transfer_start(false, ql::TransferPeer::kTerminal, "A.TXT", 3000);
    ql::line_status_transfer_count(1000);
    ql::FlatObject mid = published();
    EXPECT_EQ(ql::flat_text(mid, "state"), "TRANSFER");
    EXPECT_EQ(ql::flat_text(mid, "command"), "RECV");
    EXPECT_EQ(ql::flat_text(mid, "transfer_direction"), "out");
    EXPECT_EQ(ql::flat_text(mid, "transfer_file"), "A.TXT");
    EXPECT_EQ(ql::flat_int(mid, "transfer_done"), 1000);
    EXPECT_EQ(ql::flat_int(mid, "transfer_total"), 3000);
    ql::line_status_transfer_count(3000);
    ql::line_status_transfer_end();
    EXPECT_EQ(state(), "BUSY");
    ql::line_status_transfer_result(true);
    ql::line_status_command("FTP");
    ql::line_status_transfer_start(false, ql::TransferPeer::kFtp, "B.TXT", 500);
    ql::line_status_transfer_count(200);
    ql::line_status_transfer_end();
    ql::line_status_network(ql::NetworkKind::kFtp, false);
    ql::line_status_command_failed();
    ql::log_event("FTP server gone", 99, 0);
    ql::log_event("an information line", 0, 0);
    ql::line_status_state(ql::LineState::kReady);
    ql::line_status_state(ql::LineState::kOffline);
    EXPECT_EQ(state(), "OFFLINE");
    ql::line_status_close();

    ql::FlatObject o = published();
    EXPECT_EQ(ql::flat_text(o, "state"), "ENDED");
    EXPECT_EQ(ql::flat_text(o, "line"), "cradle7");
    EXPECT_EQ(ql::flat_text(o, "port"), "COM3");
    EXPECT_EQ(ql::flat_text(o, "connect"), "direct");
    EXPECT_EQ(ql::flat_text(o, "last_frame_command"), "FTP");
    EXPECT_EQ(ql::flat_text(o, "last_error"), "FTP server gone");
    EXPECT_EQ(ql::flat_text(o, "transfer_direction"), "");
    const std::pair<const char*, int64_t> counts[] = {
        {"call_number", 4},     {"sessions", 1},         {"commands", 4},
        {"commands_failed", 2}, {"files_sent", 1},       {"bytes_sent", 3200},
        {"files_received", 0},  {"bytes_received", 0},   {"ftp_operations", 1},
        {"ftp_failures", 1},    {"relay_operations", 0}, {"line_errors", 1}};
    for (const auto& [name, value] : counts) EXPECT_EQ(ql::flat_int(o, name), value) << name;

    const std::string metrics = dir.read("lines.prom");
    for (const char* line :
         {"quaylink_up{line=\"cradle7\"} 0\n",
          "quaylink_build_info{line=\"cradle7\",version=\"2.28\"} 1\n",
          "quaylink_state{line=\"cradle7\",state=\"ENDED\"} 1\n",
          "quaylink_state{line=\"cradle7\",state=\"READY\"} 0\n",
          "quaylink_commands_total{line=\"cradle7\",result=\"failed\"} 2\n",
          "quaylink_commands_total{line=\"cradle7\",result=\"ok\"} 2\n",
          "quaylink_transfer_bytes_total{line=\"cradle7\",direction=\"out\"} 3200\n",
          "quaylink_transfer_files_total{line=\"cradle7\",direction=\"out\"} 1\n",
          "quaylink_network_operations_total{line=\"cradle7\",protocol=\"ftp\",result=\"failed\"} "
          "1\n",
          "# TYPE quaylink_sessions_total counter\n"}) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << "\n" << metrics;
    }
}

TEST_F(LineStatusTest, FilesFollowTheSettingsAndTheCommandLine) {
    struct Case {
        std::string setup, name, metrics, status_path, metrics_path, line;
    };
    const std::string d = dir.path() + sep;
    const Case cases[] = {
        {"", "", "", d + "quaylink.status", "", "cradle7"},
        {"statusfile=s" + sep + "x.json\r\n", "dock", "", d + "s" + sep + "x.json", "", "dock"},
        {"statusfile=off\r\nmetricsfile=m.prom\r\n", "", "", "", d + "m.prom", "cradle7"},
        {"metricsfile=m.prom\r\n", "", d + "cli.prom", d + "quaylink.status", d + "cli.prom",
         "cradle7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        ql::line_status_reset();
        ini(c.setup);
        ql::line_status_configure(c.name, c.metrics);
        ql::line_status_open("COM1");
        EXPECT_EQ(ql::line_status_file(), c.status_path);
        EXPECT_EQ(ql::line_status_metrics_file(), c.metrics_path);
        EXPECT_EQ(ql::line_status_snapshot().name, c.line);
    }
}

TEST_F(LineStatusTest, AFolderThatCannotBeWrittenIsLoggedOnce) {
    ini("statusfile=" + dir.path() + sep + "missing" + sep + "quaylink.status\r\n");
    ql::line_status_configure("", "");
    ql::line_status_open("COM1");
    ql::line_status_flush();
    ql::line_status_command("DIR");
    ql::line_status_flush();
    ql::line_status_flush();  // the last error changed: one more write, not one more line
    int lines = 0;
    for (const std::string& line : view.lines())
        if (line.find("Cannot write status file") != std::string::npos) ++lines;
    EXPECT_EQ(lines, 1);
}

TEST(FlatJson, TextsSurviveTheRoundTrip) {
    const std::string texts[] = {
        "plain",           "quote \" and \\ back", "line\nbreak\x01\x1b[31m",
        "C:\\data\\A.TXT", "\xc3\xa9t\xc3\xa9",    ""};
    for (const std::string& text : texts) {
        ql::FlatObject o;
        ql::flat_put(o, "t", text);
        ql::flat_put(o, "n", int64_t{-42});
        ql::flat_put_time(o, "never", 0);
        ql::FlatObject back;
        ASSERT_TRUE(ql::parse_flat_json(ql::write_flat_json(o), back)) << text;
        EXPECT_EQ(ql::flat_text(back, "t"), text);
        EXPECT_EQ(ql::flat_int(back, "n"), -42);
        EXPECT_EQ(ql::flat_text(back, "never"), "");
    }
}

TEST(FlatJson, AnythingElseIsRefused) {
    const char* bad[] = {"",
                         "[]",
                         "{\"a\": {\"b\": 1}}",
                         "{\"a\": [1]}",
                         "{\"a\": 1} x",
                         "{\"a\": 1,}",
                         "{\"a\": \"open",
                         "{\"a\": \"\\q\"}",
                         "{\"a\": 1e}",
                         "{\"a\": \"raw\ncontrol\"}",
                         "{a: 1}"};
    for (const char* text : bad) {
        ql::FlatObject o;
        EXPECT_FALSE(ql::parse_flat_json(text, o)) << text;
    }
    ql::FlatObject o;
    EXPECT_TRUE(ql::parse_flat_json(" { \"u\" : \"\\u00e9\\ud800\" , \"b\":true } ", o));
    EXPECT_EQ(ql::flat_text(o, "u"), "\xc3\xa9\xef\xbf\xbd");
    EXPECT_EQ(ql::flat_text(o, "b"), "true");
}

}  // namespace
