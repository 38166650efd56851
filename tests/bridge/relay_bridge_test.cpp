// The relay command bridge against the loopback relay server.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "network/bridge.h"
#include "network/relay.h"
#include "network/socket.h"
#include "recording_view.h"
#include "relayd/relay_server.h"
#include "temp_dir.h"
#include "terminal/progress.h"

namespace {

class RelayBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::relay_reset();
        ql::relay_bridge_reset();
        ql::ftp_bridge_reset();
        ql::progress_reset();
        ql::socket_layer_reset();
        ql::settings_reset_defaults();
        ql::settings().workdir = work.path() + "/";
        server = std::make_unique<relayd::RelayServer>(remote.path());
        ASSERT_EQ(server->start(), 0);
    }
    void TearDown() override {
        ql::relay_bridge_reset();
        ql::relay_reset();
        ql::settings_reset_defaults();
        server.reset();
    }

    // Runs one request; returns the result and keeps the reply.
    int run(const std::string& request) { return ql::relay_bridge(request, reply); }
    void open() { ASSERT_EQ(run("1,127.0.0.1,user," + server->port_text()), 0) << reply; }
    size_t traffic() const { return server->requests().size(); }

    testing_support::TempDir remote, work;
    testing_support::RecordingView view;
    std::unique_ptr<relayd::RelayServer> server;
    std::string reply;
};

TEST_F(RelayBridge, CloseWithoutAConnectionStillBlanksTheStatus) {
    EXPECT_EQ(run("2"), 0);
    EXPECT_EQ(reply, "IP CLOSE N/A");
    EXPECT_EQ(view.text(ql::item::kNetworkStatus), " ");
}

TEST_F(RelayBridge, OpenShowsTheServerAndCloseClosesIt) {
    open();
    EXPECT_EQ(reply, "IP OPEN SUCCESSFUL ^");
    EXPECT_TRUE(ql::relay_bridge_open());
    EXPECT_EQ(view.text(ql::item::kNetworkStatus), "IP 127.0.0.1");
    EXPECT_EQ(server->requests().at(0).payload, "100user");
    EXPECT_EQ(run("2"), 0);
    EXPECT_EQ(reply, "IP CLOSE SUCCESSFUL");
    EXPECT_FALSE(ql::relay_bridge_open());
    EXPECT_EQ(ql::relay_command_socket(), ql::kNoSocket);
    EXPECT_EQ(view.text(ql::item::kNetworkStatus), " ");
}

TEST_F(RelayBridge, FailedOpenReportsTheClientsResult) {
    server->set_login("right");
    EXPECT_EQ(run("1,127.0.0.1,wrong," + server->port_text()), 530);
    EXPECT_EQ(reply, "IP OPEN FAILED:530");
    EXPECT_FALSE(ql::relay_bridge_open());
}

TEST_F(RelayBridge, SecondOpenClosesTheFirstAndAFailureLeavesItClosed) {
    open();
    const ql::SocketHandle first = ql::relay_command_socket();
    open();
    EXPECT_EQ(server->command_connections(), 2);
    EXPECT_NE(ql::relay_command_socket(), ql::kNoSocket);
    (void)first;

    server->set_login("other");
    EXPECT_EQ(run("1,127.0.0.1,user," + server->port_text()), 530);
    EXPECT_FALSE(ql::relay_bridge_open());
    EXPECT_EQ(ql::relay_command_socket(), ql::kNoSocket);
    EXPECT_EQ(run("6,X"), 1);
    EXPECT_EQ(reply, "IP NOT OPEN");
}

TEST_F(RelayBridge, OpenCheckComesBeforeTheArguments) {
    EXPECT_EQ(run("5"), 1);
    EXPECT_EQ(reply, "IP NOT OPEN");
    for (const char* op : {"3", "4", "6,D", "9,A", "10,A,B", "13", "14", "40", "41", "44"}) {
        EXPECT_EQ(run(op), 1) << op;
        EXPECT_EQ(reply, "IP NOT OPEN") << op;
    }
    EXPECT_EQ(traffic(), 0u);
}

TEST_F(RelayBridge, UnknownOperations) {
    for (int op : {0, 7, 8, 11, 12, 15, 39, 45, -1}) {
        EXPECT_EQ(run(std::to_string(op) + ",A,B"), 99);
        EXPECT_EQ(reply, "INVALID COMMAND:" + std::to_string(op));
    }
    EXPECT_EQ(run("abc"), 99);
    EXPECT_EQ(reply, "INVALID COMMAND:0");
}

TEST_F(RelayBridge, ArgumentChecks) {
    open();
    const size_t before = traffic();
    EXPECT_EQ(run("4"), 1);
    EXPECT_EQ(reply, "IP SEND: EMPTY FILENAME");
    EXPECT_EQ(run("40,,R"), 1);
    EXPECT_EQ(reply, "IP SEND: EMPTY FILENAME");
    EXPECT_EQ(run("5,,R"), 1);
    EXPECT_EQ(reply, "IP RECV: EMPTY FILENAME");
    EXPECT_EQ(run("9,A"), 1);
    EXPECT_EQ(reply, "IP COPY/APPEND: EMPTY TARGET FILE");
    EXPECT_EQ(run("10,,B"), 1);
    EXPECT_EQ(reply, "IP COPY/APPEND: EMPTY SOURCE FILE");
    EXPECT_EQ(run("13"), 1);
    EXPECT_EQ(reply, "IP DELETE: EMPTY SOURCE FILE");
    EXPECT_EQ(traffic(), before);
}

TEST_F(RelayBridge, SendUsesTheLocalNameWhenNoRemoteName) {
    open();
    const std::string src = work.write("UP.TXT", "abc");
    EXPECT_EQ(run("4," + src), 0);
    EXPECT_EQ(reply, "IP SEND SUCCESSFUL");
    // The local path is used as the remote name too; the server keeps it
    // below its folder (without a drive, on Windows).
    const std::string below = std::filesystem::path(src).relative_path().generic_string();
    EXPECT_EQ(testing_support::read_whole_file(remote.path() + "/" + below), "abc");
}

TEST_F(RelayBridge, RegisterStopsARepeatedSendButNotAForcedOne) {
    ql::settings().lastftpsend = true;
    open();
    const std::string src = work.write("UP.TXT", "abc");
    ASSERT_EQ(run("4," + src + ",R.TXT"), 0);
    EXPECT_EQ(ql::sent_register_check(src), 0);
    const size_t before = traffic();
    EXPECT_EQ(run("4," + src + ",R.TXT"), 0);
    EXPECT_EQ(reply, "IP SEND ALREADY SENT");
    EXPECT_EQ(run("40," + src + ",R.TXT"), 0);
    EXPECT_EQ(reply, "IP SEND ALREADY SENT");
    EXPECT_EQ(traffic(), before);

    EXPECT_EQ(run("44," + src + ",R.TXT"), 0);
    EXPECT_EQ(reply, "IP SEND SUCCESSFUL");
    EXPECT_GT(traffic(), before);
    EXPECT_EQ(run("41," + src + ",R.TXT"), 0);
    EXPECT_EQ(reply, "CALLED R.TXT,IP SEND SUCCESSFUL");
}

TEST_F(RelayBridge, SendWithCallAnswersTheCallResult) {
    server->set_call_result("JOB 4711");
    open();
    const std::string src = work.write("UP.TXT", "abc");
    EXPECT_EQ(run("40," + src + ",R.TXT"), 0);
    EXPECT_EQ(reply, "JOB 4711,IP SEND SUCCESSFUL");
}

TEST_F(RelayBridge, FailedSendCarriesTheClientsResultAndKeepsTheConnection) {
    ql::settings().lastftpsend = true;
    open();
    EXPECT_EQ(run("4," + work.file("NONE.TXT") + ",R"), 1);
    EXPECT_EQ(reply, "IP SEND FAILED:1");
    EXPECT_EQ(ql::sent_register_check(work.file("NONE.TXT")), -1);
    EXPECT_TRUE(ql::relay_bridge_open());
}

TEST_F(RelayBridge, ReceiveListAndChangeDirectory) {
    remote.write("R.TXT", "remote");
    open();
    const std::string dest = work.file("R.TXT");
    EXPECT_EQ(run("5," + dest + ",R.TXT"), 0);
    EXPECT_EQ(reply, "IP RECV SUCCESSFUL");
    EXPECT_EQ(testing_support::read_whole_file(dest), "remote");
    EXPECT_EQ(run("5," + dest + ",MISSING"), -1);
    EXPECT_EQ(reply, "IP RECV FAILED:-1");

    EXPECT_EQ(run("3," + work.file("LIST.TXT")), 0);
    EXPECT_EQ(reply, "IP DIR SUCCESSFUL");
    EXPECT_NE(work.read("LIST.TXT").find("R.TXT 6"), std::string::npos);

    EXPECT_EQ(run("6,NOWHERE"), 550);
    EXPECT_EQ(reply, "IP CHG DIR FAILED:550");
}

TEST_F(RelayBridge, CopyAppendDeleteRecordTheSourceName) {
    ql::settings().lastftpsend = true;
    remote.write("A.TXT", "a");
    open();
    EXPECT_EQ(run("9,A.TXT,B.TXT"), 0);
    EXPECT_EQ(reply, "IP COPY SUCCESSFUL");
    EXPECT_EQ(ql::sent_register_check("A.TXT"), 0);
    EXPECT_EQ(run("10,B.TXT,C.TXT"), 0);
    EXPECT_EQ(reply, "IP APPEND SUCCESSFUL");
    EXPECT_EQ(ql::sent_register_check("B.TXT"), 0);
    EXPECT_EQ(run("13,C.TXT"), 0);
    EXPECT_EQ(reply, "IP DELETE SUCCESSFUL");
    EXPECT_EQ(ql::sent_register_check("C.TXT"), 0);
    EXPECT_EQ(run("13,C.TXT"), 550);
    EXPECT_EQ(reply, "IP DELETE FAILED:550");
    EXPECT_EQ(ql::sent_register_check("C.TXT"), 0);  // a failure records nothing
}

TEST_F(RelayBridge, LoadPassesTheClientsReplyAndResult) {
    server->set_load(2, 0, "RESULT 42");
    open();
    EXPECT_EQ(run("14,JOB,ARG"), 0);
    EXPECT_EQ(reply, "RESULT 42");
    server->set_load(-1, 0, "");
    EXPECT_EQ(run("14,JOB,ARG"), 2);
    EXPECT_EQ(reply, "TIMEOUT ERROR");
}

TEST_F(RelayBridge, LogFlagLogsFieldsAndReply) {
    ql::ftp_set_defaults("", "", "", 1);
    EXPECT_EQ(run("2,a,b"), 0);
    EXPECT_TRUE(view.has_line("IP:[ 2 ][ a ][ b ][  ]"));
    EXPECT_TRUE(view.has_line("IP:IP CLOSE N/A"));
    ql::ftp_set_defaults("", "", "", 0);
    EXPECT_EQ(run("7"), 99);
    EXPECT_FALSE(view.has_line("IP:INVALID"));
}

// A stream-mode relay server that accepts the upload and never reads it:
// the send deadline ends the upload as a dropped connection would, the
// terminal gets the failure reply, and the next request is served.
TEST_F(RelayBridge, StreamUploadToAServerThatNeverReadsFailsAndTheNextRequestIsServed) {
    server->set_stream(true);
    server->stream_never_read(true);
    ql::relay_set_timeouts(1000, 1000);  // whole reply frames must fit it, under wine too
    open();
    const std::string src = work.write("BIG.BIN", std::string(8 << 20, 'b'));
    EXPECT_EQ(run("44," + src + ",BIG.BIN"), -1);
    EXPECT_EQ(reply, "IP SEND FAILED:-1");
    EXPECT_TRUE(view.has_line("IP:Socket Bytes Send Err: Size=8388608"));
    EXPECT_EQ(ql::relay_data_socket(), ql::kNoSocket);
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications().back(), "101233BIG.BIN");

    server->clear_faults();
    remote.write("R.TXT", "remote");
    EXPECT_EQ(run("5," + work.file("R.TXT") + ",R.TXT"), 0) << reply;
    EXPECT_EQ(work.read("R.TXT"), "remote");
}

// A field that would go into a request frame as text with CR, LF or NUL in
// it is refused before anything is sent, with the operation's failure reply.
TEST_F(RelayBridge, LineBreaksAndNulInFieldsAreRefusedBeforeAnyTraffic) {
    EXPECT_EQ(run("1,127.0.0.1,us\r\ner," + server->port_text()), -103);
    EXPECT_EQ(reply, "IP OPEN FAILED:-103");
    EXPECT_EQ(server->command_connections(), 0);
    EXPECT_TRUE(view.has_line("IP:Refused: CR, LF or NUL in a name or login (OPEN)"));

    open();
    remote.write("VICTIM.TXT", "keep");
    const size_t before = traffic();
    const std::string nul("A\0B", 3);
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {"6,.\r\n210VICTIM.TXT", "IP CHG DIR FAILED:-103"},
        {"13,X\nVICTIM.TXT", "IP DELETE FAILED:-103"},
        {"9,A.TXT,B\r.TXT", "IP COPY FAILED:-103"},
        {"10,A\n.TXT,B.TXT", "IP APPEND FAILED:-103"},
        {"3," + work.file("L\r.TXT"), "IP DIR FAILED:-103"},
        {"5," + work.file("R.TXT") + ",R\n.TXT", "IP RECV FAILED:-103"},
        {"44," + work.write("U.TXT", "u") + "," + nul, "IP SEND FAILED:-103"},
        {"14,JOB\r\n,ARG", "LOAD ERR:BAD CHARACTER:-103"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.request), -103) << c.request;
        EXPECT_EQ(reply, c.reply);
    }
    EXPECT_EQ(traffic(), before);
    EXPECT_EQ(remote.read("VICTIM.TXT"), "keep");
    EXPECT_EQ(run("6,."), 0);  // the connection is still in step
}

}  // namespace
