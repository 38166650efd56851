// The command word, FTP and IPCOMM tables and the requests built from them.
#include <gtest/gtest.h>

#include "foundation/settings.h"
#include "terminal/dispatcher.h"

namespace {

using ql::Command;

TEST(CommandWords, LeadingCharactersDecideAndLaterRowsWin) {
    EXPECT_EQ(ql::lookup_command("LINESTOP"), Command::kLinestop);
    EXPECT_EQ(ql::lookup_command("LINESTOPX"), Command::kLinestop);
    EXPECT_EQ(ql::lookup_command("LINEST"), Command::kNone);
    EXPECT_EQ(ql::lookup_command("LINEBID"), Command::kLinebid);
    EXPECT_EQ(ql::lookup_command("GETCALLN"), Command::kGetcallno);
    EXPECT_EQ(ql::lookup_command("GETCALL"), Command::kNone);
    EXPECT_EQ(ql::lookup_command("DIRX"), Command::kDir);
    EXPECT_EQ(ql::lookup_command("COPY"), Command::kCopy);
    EXPECT_EQ(ql::lookup_command("COPYD"), Command::kCopyGiven);
    EXPECT_EQ(ql::lookup_command("COPYDEL"), Command::kCopyGiven);
    EXPECT_EQ(ql::lookup_command("APPENDD"), Command::kAppendGiven);
    EXPECT_EQ(ql::lookup_command("APPEND"), Command::kAppend);
    EXPECT_EQ(ql::lookup_command("DELETED"), Command::kDeleteGiven);
    EXPECT_EQ(ql::lookup_command("LOADD"), Command::kLoadGiven);
    EXPECT_EQ(ql::lookup_command("EXECD"), Command::kExecGiven);
    EXPECT_EQ(ql::lookup_command("SYSTEM"), Command::kSystem);
    EXPECT_EQ(ql::lookup_command("STAT"), Command::kStat);
    EXPECT_EQ(ql::lookup_command("IPCOMM"), Command::kIpcomm);
    EXPECT_EQ(ql::lookup_command("FTP"), Command::kFtp);
    EXPECT_EQ(ql::lookup_command("FOO"), Command::kNone);
    EXPECT_EQ(ql::lookup_command("datetime"), Command::kNone);  // case counts
    EXPECT_EQ(ql::lookup_command(""), Command::kNone);
}

TEST(SubCommands, FtpAndRelayTablesDifferInLength) {
    ASSERT_NE(ql::ftp_subcommand("COPYDEL"), nullptr);
    EXPECT_STREQ(ql::ftp_subcommand("COPYDEL")->code, "11");
    EXPECT_STREQ(ql::ftp_subcommand("COPY")->code, "9");
    EXPECT_STREQ(ql::ftp_subcommand("APPDEL")->code, "12");
    EXPECT_STREQ(ql::ftp_subcommand("FSEND")->code, "44");
    EXPECT_STREQ(ql::ftp_subcommand("HARBOR")->code, "7");
    EXPECT_EQ(ql::ftp_subcommand("XYZ"), nullptr);
    EXPECT_EQ(ql::ftp_subcommand("DELETE"), nullptr);

    ASSERT_NE(ql::relay_subcommand("COPYDEL"), nullptr);
    EXPECT_STREQ(ql::relay_subcommand("COPYDEL")->code, "9");
    EXPECT_STREQ(ql::relay_subcommand("APPDEL")->code, "10");
    EXPECT_STREQ(ql::relay_subcommand("DELETE")->code, "13");
    EXPECT_STREQ(ql::relay_subcommand("FCSEND")->code, "41");
    EXPECT_STREQ(ql::relay_subcommand("CSEND")->code, "40");
    EXPECT_EQ(ql::relay_subcommand("HARBOR"), nullptr);
}

class Requests : public ::testing::Test {
  protected:
    void SetUp() override { ql::settings_reset_defaults(); }
    void TearDown() override { ql::settings_reset_defaults(); }
    ql::Fields f;
    const std::string wd = "/srv/work/";
};

TEST_F(Requests, FtpSendDefaultsTheRemoteName) {
    f = {"FTP", "SEND", "A.TXT"};
    ql::FtpRequest r;
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.text, "4,/srv/work/A.TXT,A.TXT");
    EXPECT_EQ(f[3], "A.TXT");
    EXPECT_FALSE(r.open);
}

TEST_F(Requests, FtpFieldsFollowOnlyWhileEarlierOnesAreGiven) {
    f = {"FTP", "COPY", "a", "", "d"};
    ql::FtpRequest r;
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.text, "9,a");
    f = {"FTP", "CLOSE"};
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.text, "2");
    f = {"FTP", "DIR", "LIST.TXT", "/remote"};
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.text, "3,/srv/work/LIST.TXT,/remote");
    f = {"FTP", "XYZ"};
    EXPECT_FALSE(ql::build_ftp_request(wd, f, r));
}

TEST_F(Requests, FtpOpenTakesPassiveAndPortFromTheFrame) {
    ql::settings().passive = true;
    f = {"FTP", "OPEN", "host", "user", "pw"};
    ql::FtpRequest r;
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.text, "1,host,user,pw");
    EXPECT_TRUE(r.open);
    EXPECT_EQ(r.passive, 1);
    EXPECT_EQ(r.control_port, 0);
    f = {"FTP", "OPEN", "host", "user", "pw", "0", "2121"};
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.passive, 0);
    EXPECT_EQ(r.control_port, 2121);
    // Fields 5 and 6 mean nothing to other sub-commands.
    f = {"FTP", "CWD", "dir", "", "", "0", "2121"};
    ASSERT_TRUE(ql::build_ftp_request(wd, f, r));
    EXPECT_EQ(r.passive, 1);
    EXPECT_EQ(r.control_port, 0);
}

TEST_F(Requests, RelayOpenFillsHostLoginAndPort) {
    f = {"IPCOMM", "OPEN"};
    std::string req;
    ASSERT_TRUE(ql::build_relay_request(wd, f, req));
    EXPECT_EQ(req, "1");
    ql::settings().iphost = "relay.example";
    ql::settings().ipuser = "LOGIN";
    ql::settings().ipport = "7001";
    f = {"IPCOMM", "OPEN"};
    ASSERT_TRUE(ql::build_relay_request(wd, f, req));
    EXPECT_EQ(req, "1,relay.example,LOGIN,7001");
    EXPECT_EQ(f[2], "relay.example");
    f = {"IPCOMM", "OPEN", "", "mine"};
    ASSERT_TRUE(ql::build_relay_request(wd, f, req));
    EXPECT_EQ(req, "1,relay.example,mine,7001");
}

TEST_F(Requests, RelayRequestsAlwaysCarryFourFields) {
    f = {"IPCOMM", "DEL", "old.txt"};
    std::string req;
    ASSERT_TRUE(ql::build_relay_request(wd, f, req));
    EXPECT_EQ(req, "13,old.txt,,");
    f = {"IPCOMM", "SEND", "A.TXT"};
    ASSERT_TRUE(ql::build_relay_request(wd, f, req));
    EXPECT_EQ(req, "4,/srv/work/A.TXT,A.TXT,");
    f = {"IPCOMM", "CLOSE"};
    ASSERT_TRUE(ql::build_relay_request(wd, f, req));
    EXPECT_EQ(req, "2");
    f = {"IPCOMM", "XYZ"};
    EXPECT_FALSE(ql::build_relay_request(wd, f, req));
}

}  // namespace
