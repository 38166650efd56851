#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/files.h"
#include "profile/profile.h"
#include "recording_view.h"
#include "temp_dir.h"

using testing_support::TempDir;

namespace {

// The separator a folder name gets when the settings complete it.
const std::string sep(1, platform::dir_separator());

class Settings : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::settings_reset_defaults();
        ql::server_paths_set(dir.path(), "");
    }
    void TearDown() override { ql::log_reset(); }
    void ini(const std::string& setup, const std::string& extra = "") {
        dir.write("quaylink.ini", "[setup]\r\n" + setup + extra);
    }

    TempDir dir;
    testing_support::RecordingView view;
};

TEST_F(Settings, MissingFileGivesTheDefaults) {
    ql::settings_load();
    const auto& s = ql::settings();
    EXPECT_EQ(s.commport, 1);
    EXPECT_EQ(s.baudrate, 57600);
    EXPECT_EQ(s.interchardelay, 125);
    EXPECT_EQ(s.connect_kind, ql::kConnectIrda);
    EXPECT_FALSE(s.modem);
    EXPECT_EQ(s.workdir, "");
    EXPECT_EQ(ql::effective_workdir(), dir.path() + sep);
    EXPECT_EQ(ql::log_state().mode, 0);
    EXPECT_EQ(ql::log_state().debug, 1);
}

TEST_F(Settings, EveryKeyIsRead) {
    ini("workdir=/data/in\r\nlogfile=append\r\nlogdir=/var/log/ql/\r\ncommport=12\r\n"
        "baudrate=115200\r\ninterchardelay=250\r\nconnect=USB\r\naltreadport=YES\r\n"
        "host=ftp.example\r\nuser=u\r\npassword=p\r\nftpdir=/up\r\npassive=yes\r\n"
        "ftpdataport=8100\r\nlastftpsend=yes\r\niphost=relay\r\nipport=7000\r\nipuser=r\r\n");
    ql::settings_load();
    const auto& s = ql::settings();
    EXPECT_EQ(s.workdir, "/data/in" + sep);
    EXPECT_EQ(ql::log_state().mode, 1);
    EXPECT_EQ(ql::log_path(), "/var/log/ql/quaylink.log");
    EXPECT_EQ(s.commport, 12);
    EXPECT_EQ(s.baudrate, 115200);
    EXPECT_EQ(s.interchardelay, 250);
    EXPECT_EQ(s.connect_kind, ql::kConnectUsb);
    EXPECT_TRUE(s.altread);
    EXPECT_EQ(s.host, "ftp.example");
    EXPECT_EQ(s.password, "p");
    EXPECT_EQ(s.ftpdir, "/up");
    EXPECT_TRUE(s.passive);
    EXPECT_EQ(s.ftpdataport, 8100);
    EXPECT_TRUE(s.lastftpsend);
    EXPECT_EQ(s.iphost, "relay");
    EXPECT_EQ(s.ipport, "7000");
    EXPECT_EQ(s.ipuser, "r");
}

// ftptls: only "no" (or nothing) is plain; an unknown word means explicit,
// so that a misspelt value never sends the password in clear text.
TEST_F(Settings, FtpTlsWordsAndTheirDefaults) {
    struct Case {
        const char* text;
        int tls;
    } cases[] = {{"", 0},
                 {"ftptls=no\r\n", 0},
                 {"ftptls=explicit\r\n", 1},
                 {"ftptls=IMPLICIT\r\n", 2},
                 {"ftptls=yes\r\n", 1}};
    for (const Case& c : cases) {
        ini(c.text);
        ql::settings_load();
        EXPECT_EQ(ql::settings().ftptls, c.tls) << c.text;
        EXPECT_TRUE(ql::settings().ftptlsverify);
        EXPECT_FALSE(ql::settings().ftpepsv);
    }
    ini("ftptls=explicit\r\nftptlsverify=no\r\nftpcafile=/etc/site-ca.pem\r\nftpepsv=yes\r\n");
    ql::settings_load();
    EXPECT_FALSE(ql::settings().ftptlsverify);
    EXPECT_EQ(ql::settings().ftpcafile, "/etc/site-ca.pem");
    EXPECT_TRUE(ql::settings().ftpepsv);
}

TEST_F(Settings, LogPathGetsOneSeparatorAndFallsBackToTheWorkingDirectory) {
    ini("logfile=APPEND\r\nlogdir=/tmp/x\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::log_path(), "/tmp/x" + sep + "quaylink.log");
    ini("logfile=APPEND\r\nworkdir=/w\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::log_path(), "/w" + sep + "quaylink.log");
}

TEST_F(Settings, CreateEmptiesTheLogAtEachLoadAppendKeepsIt) {
    ini("logfile=CREATE\r\nlogdir=" + dir.path() + "\r\n");
    dir.write("quaylink.log", "old\n");
    ql::settings_load();
    EXPECT_EQ(dir.read("quaylink.log"), "");
    ql::log_event("one", 0, 0);
    ini("logfile=APPENDING\r\nlogdir=" + dir.path() + "\r\n");
    ql::settings_load();
    ql::log_event("two", 0, 0);
    std::string log = dir.read("quaylink.log");
    EXPECT_NE(log.find("[one]"), std::string::npos);
    EXPECT_NE(log.find("[two]"), std::string::npos);
}

TEST_F(Settings, ALogDirectoryTooLongForThePathTurnsTheLogFileOff) {
    std::string logdir = dir.path() + "/" + std::string(245 - dir.path().size() - 1, 'L');
    std::filesystem::create_directory(logdir);
    ini("logfile=CREATE\r\nlogdir=" + logdir + "\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::log_state().mode, 0);
    EXPECT_EQ(ql::log_path(), "");
    ASSERT_EQ(view.lines().size(), 1u);
    EXPECT_NE(view.lines()[0].find("Log file path too long"), std::string::npos);
    ql::log_event("event", 0, 0);
    EXPECT_TRUE(std::filesystem::is_empty(logdir));
}

TEST_F(Settings, ModemFlagSurvivesAChangeToDirect) {
    ini("connect=modems\r\n", "[modem init]\r\ninit1=ATZ\r\ninit3=AT&C1\r\n");
    ql::settings_load();
    EXPECT_TRUE(ql::settings().modem);
    EXPECT_EQ(ql::settings().connect_kind, ql::kConnectDirect);
    EXPECT_EQ(ql::settings().init[0], "ATZ");
    EXPECT_EQ(ql::settings().init[1], "");
    EXPECT_EQ(ql::settings().init[2], "AT&C1");
    ini("connect=direct\r\n");
    ql::settings_load();
    EXPECT_TRUE(ql::settings().modem);
    EXPECT_EQ(ql::settings().init[0], "");
}

TEST_F(Settings, RemovedLineKeysKeepThePreviousValue) {
    ini("commport=4\r\nconnect=ird\r\n");
    ql::settings_load();
    ini("baudrate=9600\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().commport, 4);
    EXPECT_EQ(ql::settings().baudrate, 9600);
    EXPECT_EQ(ql::settings().connect_kind, ql::kConnectIrda);
}

TEST_F(Settings, FieldOf64CharactersIsMissing) {
    ini("host=" + std::string(63, 'h') + "\r\nuser=" + std::string(64, 'u') +
            "\r\nconnect=modem\r\n",
        "[modem init]\r\ninit1=" + std::string(64, 'A') + "\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().host, std::string(63, 'h'));
    EXPECT_EQ(ql::settings().user, "");
    EXPECT_EQ(ql::settings().init[0], "");
}

TEST_F(Settings, CommportMayNameADevice) {
    ini("commport=/dev/ttyUSB3\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().commport_device, "/dev/ttyUSB3");
    ini("commport=2\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().commport_device, "");
    EXPECT_EQ(ql::settings().commport, 2);
}

// 99999999999 used to wrap to 1215752191 and reach the port as a speed.
TEST_F(Settings, NumbersBeyondTheIntegerRangeReadAsInvalid) {
    ini("baudrate=99999999999\r\ncommport=4294967297\r\ninterchardelay=-99999999999\r\n"
        "ftpdataport=2147483648\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().baudrate, 57600);  // ignored: the default stays
    EXPECT_EQ(ql::settings().commport, 0);
    EXPECT_EQ(ql::settings().interchardelay, 125);
    EXPECT_EQ(ql::settings().ftpdataport, 0);
    ini("baudrate=2147483647\r\ncommport= 7x\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().baudrate, 2147483647);
    EXPECT_EQ(ql::settings().commport, 7);
}

// interchardelay=0 made every frame wait out the 5 s read time-out. A rate
// or delay below 1, or a word, is missing: the previous value stays.
TEST_F(Settings, RateAndDelayBelowOneAreIgnoredAndLogged) {
    ini("baudrate=9600\r\ninterchardelay=50\r\n");
    ql::settings_load();
    for (const char* bad : {"0", "-5", "fast"}) {
        SCOPED_TRACE(bad);
        ini(std::string("baudrate=") + bad + "\r\ninterchardelay=" + bad + "\r\n");
        ql::settings_load();
        EXPECT_EQ(ql::settings().baudrate, 9600);
        EXPECT_EQ(ql::settings().interchardelay, 50);
        EXPECT_TRUE(view.has_line(std::string("Inter-character delay ") + bad +
                                  " ignored: must be at least 1 ms"));
        EXPECT_TRUE(
            view.has_line(std::string("Baud rate ") + bad + " ignored: must be at least 1"));
    }
    ini("interchardelay=1\r\n");
    ql::settings_load();
    EXPECT_EQ(ql::settings().interchardelay, 1);
}

TEST_F(Settings, DashINameIsInTheProgramDirectoryUnlessAbsolute) {
    ql::server_paths_set(dir.path(), "other.ini");
    EXPECT_EQ(ql::server_paths().settings_path,
              dir.path() + platform::dir_separator() + "other.ini");
    ql::server_paths_set(dir.path(), "/etc/ql.ini");
    EXPECT_EQ(ql::server_paths().settings_path, "/etc/ql.ini");
}

TEST_F(Settings, DashINameWithADriveOrAServerStandsAsGivenOnWindowsOnly) {
    bool windows = platform::dir_separator() == '\\';
    for (const char* name : {"C:\\sites\\cradle1.ini", "z:/tmp/ql.ini", "\\\\pc\\share\\ql.ini"}) {
        ql::server_paths_set(dir.path(), name);
        std::string relative = dir.path() + platform::dir_separator() + name;
        EXPECT_EQ(ql::server_paths().settings_path, windows ? std::string(name) : relative) << name;
    }
}

}  // namespace

namespace {

TEST_F(Settings, ConfineAndProgramsDefaultToTheOpenLine) {
    ql::settings_load();
    EXPECT_FALSE(ql::settings().confine);
    EXPECT_TRUE(ql::settings().programs);
    ini("confine=YES\r\nprograms=No\r\n");
    ql::settings_load();
    EXPECT_TRUE(ql::settings().confine);
    EXPECT_FALSE(ql::settings().programs);
    // Each load starts from the defaults: removed keys open the line again.
    ini("confine=maybe\r\n");
    ql::settings_load();
    EXPECT_FALSE(ql::settings().confine);
    EXPECT_TRUE(ql::settings().programs);
}

TEST_F(Settings, ThePasswordStaysOutOfTheLog) {
    ini("logfile=CREATE\r\nlogdir=" + dir.path() +
        "\r\nhost=h\r\nuser=u\r\npassword=Zq8secret\r\n");
    ql::settings_load();
    ql::log_event("after the load", 0, 0);
    std::string log = dir.read("quaylink.log");
    EXPECT_NE(log.find("after the load"), std::string::npos);
    EXPECT_EQ(log.find("Zq8secret"), std::string::npos);
    for (const auto& line : view.lines()) EXPECT_EQ(line.find("Zq8secret"), std::string::npos);
}

}  // namespace
