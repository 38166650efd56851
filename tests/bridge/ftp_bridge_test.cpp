// The FTP command bridge against the pyftpdlib test server (passive mode,
// so no fixed local ports are taken).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "ftp_fixture.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "network/socket.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "terminal/progress.h"

namespace {

constexpr int kPassive = 1;

class FtpBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::ftp_reset();
        ql::ftp_bridge_reset();
        ql::progress_reset();
        ql::socket_layer_reset();
        ql::settings_reset_defaults();
        ql::settings().workdir = work.path() + "/";
        ASSERT_TRUE(server.start()) << server.error();
        ql::ftp_set_control_port(server.port());
    }
    void TearDown() override {
        ql::ftp_bridge_close();
        ql::ftp_reset();
        ql::ftp_bridge_reset();
        ql::settings_reset_defaults();
    }

    void defaults() { ql::ftp_set_defaults("127.0.0.1", server.user(), server.password(), 0); }
    int run(const std::string& request, int passive = kPassive) {
        return ql::ftp_bridge(passive, request, reply);
    }
    size_t count(const std::string& prefix) const {
        auto cmds = server.commands();
        return std::count_if(cmds.begin(), cmds.end(),
                             [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }

    testing_support::FtpServer server;
    testing_support::TempDir work;
    testing_support::RecordingView view;
    std::string reply;
};

TEST_F(FtpBridge, CloseWhenNotConnectedBlanksTheStatus) {
    EXPECT_EQ(run("2"), 0);
    EXPECT_EQ(reply, "FTP CLOSE N/A");
    EXPECT_EQ(view.text(ql::item::kNetworkStatus), " ");
}

TEST_F(FtpBridge, OpenWithoutAnyLoginFailsToConnect) {
    EXPECT_EQ(run("1"), -4);
    EXPECT_EQ(reply, "FTP OPEN FAILED:-4");
    EXPECT_FALSE(ql::ftp_bridge_connected());
}

TEST_F(FtpBridge, OpenWithDefaultsShowsTheServerAndEndsWithTheCaret) {
    defaults();
    EXPECT_EQ(run("1"), 0);
    EXPECT_EQ(reply, "FTP OPEN SUCCESSFUL ^");
    EXPECT_TRUE(ql::ftp_bridge_connected());
    EXPECT_EQ(view.text(ql::item::kNetworkStatus), "FTP 127.0.0.1");
    EXPECT_EQ(run("2"), 0);
    EXPECT_EQ(reply, "FTP CLOSE SUCCESSFUL");
    EXPECT_EQ(count("QUIT"), 1u);
    EXPECT_EQ(view.text(ql::item::kNetworkStatus), " ");
}

TEST_F(FtpBridge, ReopenQuitsFirstAndTakesTheDefaultPassword) {
    ql::ftp_set_defaults("127.0.0.1", "nobody", server.password(), 0);
    ASSERT_EQ(run("1,127.0.0.1," + server.user() + ",wrong"), -6);
    ASSERT_EQ(run("1,127.0.0.1," + server.user()), 0);
    ASSERT_EQ(run("1,127.0.0.1," + server.user()), 0) << reply;
    auto cmds = server.commands();
    std::vector<std::string> tail(cmds.end() - 4, cmds.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"QUIT", "USER " + server.user(),
                                              "PASS " + server.password(), "TYPE I"}));
}

TEST_F(FtpBridge, SendWithoutANameOpensFirst) {
    defaults();
    EXPECT_EQ(run("4"), 1);
    EXPECT_EQ(reply, "FTP SEND: EMPTY FILENAME");
    EXPECT_TRUE(ql::ftp_bridge_connected());
    EXPECT_EQ(count("USER"), 1u);
    // Implicit opens leave the status field alone.
    EXPECT_TRUE(view.texts(ql::item::kNetworkStatus).empty());
}

TEST_F(FtpBridge, ImplicitOpenFailureIsTheReply) {
    ql::ftp_set_defaults("127.0.0.1", server.user(), "wrong", 0);
    EXPECT_EQ(run("6,sub"), -6);
    EXPECT_EQ(reply, "FTP OPEN FAILED:-6");
    EXPECT_FALSE(ql::ftp_bridge_connected());
}

TEST_F(FtpBridge, InvalidCodes) {
    EXPECT_EQ(run("13,a"), 99);
    EXPECT_EQ(reply, "INVALID COMMAND:13");
    EXPECT_EQ(run("x"), 99);
    EXPECT_EQ(reply, "INVALID COMMAND:0");
    EXPECT_EQ(run("45"), 99);
    EXPECT_EQ(run("7"), 0);
    EXPECT_EQ(reply, "QL CMD SUCCESSFUL");
    EXPECT_TRUE(server.commands().empty());
}

TEST_F(FtpBridge, RegisterStopsARepeatedSendOnly) {
    ql::settings().lastftpsend = true;
    defaults();
    const std::string src = work.write("DATA.TXT", "records");
    const std::string other_case = work.write("data.txt", "other");
    ASSERT_EQ(run("4," + src + ",DATA.TXT"), 0) << reply;
    EXPECT_EQ(reply, "FTP SEND SUCCESSFUL");
    EXPECT_EQ(server.read("DATA.TXT"), "records");

    EXPECT_EQ(run("4," + src + ",DATA.TXT"), 0);
    EXPECT_EQ(reply, "FTP SEND ALREADY SENT");
    EXPECT_EQ(count("STOR"), 1u);

    EXPECT_EQ(run("44," + src + ",DATA.TXT"), 0);
    EXPECT_EQ(reply, "FTP SEND SUCCESSFUL");
    EXPECT_EQ(count("STOR"), 2u);

    EXPECT_EQ(run("4," + other_case + ",LOWER.TXT"), 0);
    EXPECT_EQ(reply, "FTP SEND SUCCESSFUL");
    EXPECT_EQ(server.read("LOWER.TXT"), "other");
}

TEST_F(FtpBridge, SuccessfulCopyMakesAFollowingSendOfThatNameAlreadySent) {
    ql::settings().lastftpsend = true;
    defaults();
    server.write("A.TXT", "a");
    EXPECT_EQ(run("9,A.TXT,B.TXT"), 0);
    EXPECT_EQ(reply, "FTP COPY SUCCESSFUL");
    EXPECT_EQ(server.read("B.TXT"), "a");
    EXPECT_EQ(run("4,A.TXT"), 0);
    EXPECT_EQ(reply, "FTP SEND ALREADY SENT");

    EXPECT_EQ(run("10,A.TXT,B.TXT"), 0);
    EXPECT_EQ(reply, "FTP APPEND SUCCESSFUL");
    EXPECT_EQ(server.read("B.TXT"), "aa");
    EXPECT_EQ(run("12,MISSING,B.TXT"), -135);
    EXPECT_EQ(reply, "FTP APPEND FAILED:-135");
    EXPECT_EQ(run("11,A.TXT"), 1);
    EXPECT_EQ(reply, "FTP COPY/APPEND: EMPTY TARGET FILE");
    EXPECT_EQ(run("11,,B"), 1);
    EXPECT_EQ(reply, "FTP COPY/APPEND: EMPTY SOURCE FILE");
    EXPECT_EQ(run("11,A.TXT,C.TXT"), 0);
    EXPECT_EQ(reply, "FTP COPY SUCCESSFUL");
    EXPECT_EQ(server.read("C.TXT"), "a");
    EXPECT_EQ(server.read("A.TXT"), "");  // COPYDEL removed the source
}

TEST_F(FtpBridge, ReceiveDirectoryAndChangeDirectory) {
    defaults();
    server.write("R.TXT", "remote");
    const std::string dest = work.file("R.TXT");
    EXPECT_EQ(run("5," + dest + ",R.TXT"), 0);
    EXPECT_EQ(reply, "FTP RECV SUCCESSFUL");
    EXPECT_EQ(testing_support::read_whole_file(dest), "remote");
    EXPECT_EQ(run("5"), 1);
    EXPECT_EQ(reply, "FTP RECV: EMPTY FILENAME");
    EXPECT_EQ(run("5," + dest + ",MISSING"), -133);
    EXPECT_EQ(reply, "FTP RECV FAILED:-133");

    EXPECT_EQ(run("3," + work.file("LIST")), 0);
    EXPECT_EQ(reply, "FTP DIR SUCCESSFUL");
    EXPECT_NE(work.read("LIST").find("R.TXT"), std::string::npos);

    EXPECT_EQ(run("6,NOWHERE"), -132);
    EXPECT_EQ(reply, "FTP CHG DIR FAILED:-132");
    EXPECT_TRUE(ql::ftp_bridge_connected());  // a failed request keeps the connection
}

TEST_F(FtpBridge, DataBinUploadAndItsRegister) {
    ql::settings().lastftpsend = true;
    defaults();
    const std::string src = work.write("BIN.DAT", "bin");
    EXPECT_EQ(run("8," + src), 0);
    EXPECT_EQ(reply, "FTP DBIN SUCCESSFUL");
    EXPECT_EQ(run("8," + src), 0);
    EXPECT_EQ(reply, "FTP DBIN ALREADY SENT");
    EXPECT_EQ(run("8"), 1);
    EXPECT_EQ(reply, "FTP DBIN: EMPTY FILENAME");
    EXPECT_EQ(run("8," + work.file("NONE")), -134);
    EXPECT_EQ(reply, "FTP DBIN FAILED:-134");
}

TEST_F(FtpBridge, DefaultsForgetTheConnectionAndCloseQuitsIt) {
    defaults();
    ASSERT_EQ(run("1"), 0);
    defaults();  // a new communication: the connection is not closed
    EXPECT_FALSE(ql::ftp_bridge_connected());
    EXPECT_EQ(count("QUIT"), 0u);
    ASSERT_EQ(run("1"), 0);  // reuses the open connection
    ql::ftp_bridge_close();
    EXPECT_FALSE(ql::ftp_bridge_connected());
    EXPECT_EQ(count("QUIT"), 1u);
}

TEST_F(FtpBridge, LogFlagLogsTheFieldsAndTheReply) {
    ql::ftp_set_defaults("", "", "", 1);
    EXPECT_TRUE(ql::ftp_log_flag());
    EXPECT_EQ(run("2,x"), 0);
    EXPECT_TRUE(view.has_line("FTP:[ 2 ][ x ][  ][  ]"));
    EXPECT_TRUE(view.has_line("FTP:FTP CLOSE N/A"));
}

}  // namespace

namespace {

// A CR LF in the terminal's CWD field once became a second command that
// deleted a file and left the connection out of step. Such fields are now
// refused before anything is sent; the file survives and the next listing
// works on the same connection.
TEST_F(FtpBridge, LineBreakInAFieldCannotSmuggleASecondCommand) {
    defaults();
    server.write("victim.txt", "keep me");
    EXPECT_EQ(run("6,.\r\nDELE victim.txt"), -136);
    EXPECT_EQ(reply, "FTP CHG DIR FAILED:-136");
    EXPECT_TRUE(view.has_line("FTP:Refused: CR, LF or NUL in a name or login (CHG DIR)"));
    EXPECT_EQ(count("DELE"), 0u);
    EXPECT_EQ(count("USER"), 0u);  // not even the implicit open ran
    EXPECT_EQ(server.read("victim.txt"), "keep me");

    EXPECT_EQ(run("3," + work.file("LIST")), 0) << reply;
    EXPECT_NE(work.read("LIST").find("victim.txt"), std::string::npos);
}

TEST_F(FtpBridge, EveryCommandLineFieldIsCheckedForCrLfAndNul) {
    defaults();
    server.write("victim.txt", "keep me");
    ASSERT_EQ(run("1"), 0) << reply;
    const std::string src = work.write("UP.TXT", "up");
    const std::string nul("a\0b", 3);
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {"4," + src + ",x\r\nDELE victim.txt", "FTP SEND FAILED:-136"},
        {"44," + src + "," + nul, "FTP SEND FAILED:-136"},
        {"5," + work.file("R.TXT") + ",victim.txt\nDELE victim.txt", "FTP RECV FAILED:-136"},
        {"9,victim.txt,b\r\nDELE victim.txt", "FTP COPY FAILED:-136"},
        {"10,victim.txt\n,b", "FTP APPEND FAILED:-136"},
        {"11,victim.txt,b\r", "FTP COPY FAILED:-136"},
        {"12," + nul + ",b", "FTP APPEND FAILED:-136"},
        {"1,127.0.0.1,quay\r\nDELE victim.txt,link", "FTP OPEN FAILED:-136"},
        {"1,127.0.0.1,quay,link\r\nDELE victim.txt", "FTP OPEN FAILED:-136"},
    };
    const size_t before = server.commands().size();
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.request), -136) << c.request;
        EXPECT_EQ(reply, c.reply);
    }
    EXPECT_EQ(server.commands().size(), before);
    EXPECT_EQ(server.read("victim.txt"), "keep me");
    EXPECT_TRUE(ql::ftp_bridge_connected());  // a refused OPEN keeps the open connection
    EXPECT_EQ(run("6,."), 0) << reply;
}

// The client itself never puts a line break inside a command line, whoever
// calls it.
TEST_F(FtpBridge, CommandTextWithAnInnerLineBreakIsNeverSent) {
    defaults();
    ASSERT_EQ(run("1"), 0) << reply;
    const size_t before = server.commands().size();
    EXPECT_EQ(ql::ftp_send_command("CWD .\r\nDELE x\r\n"), -1);
    EXPECT_EQ(ql::ftp_send_command(std::string("CWD a\0b\r\n", 9)), -1);
    EXPECT_EQ(ql::ftp_cwd(".\nx"), -132);
    EXPECT_EQ(server.commands().size(), before);
    EXPECT_EQ(ql::ftp_cwd("."), 0);
}

}  // namespace
