#include <gtest/gtest.h>

#include <string>

#include "formwright/settings.h"
#include "platform/files.h"
#include "temp_dir.h"

using testing_support::TempDir;

namespace {

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        fw::settings_reset();
        fw::settings_set_directory(dir.path());
    }
    void TearDown() override { fw::settings_reset(); }

    std::string content() { return dir.read("orderini"); }
    void write(const std::string& text) { dir.write("orderini", text); }

    TempDir dir;
};

// The text of one section, from its header up to the next one.
std::string section_text(const std::string& file, const std::string& name) {
    size_t start = file.find("[" + name + "]");
    if (start == std::string::npos) return {};
    size_t end = file.find("\n[", start + 1);
    return file.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

TEST_F(SettingsFile, PathIsTheWorkingDirectoryPlusOrderini) {
    EXPECT_EQ(fw::settings_path(), dir.native("orderini"));
    fw::settings_set_directory(dir.path() + "/");  // no second separator
    EXPECT_EQ(fw::settings_path(), dir.path() + "/orderini");
    fw::settings_set_directory("");
    EXPECT_EQ(fw::settings_path(), "orderini");
}

TEST_F(SettingsFile, MissingFileLoadsEveryDefault) {
    fw::settings().banner = "stale";
    fw::settings().ql_sendmode = 0;
    fw::settings_load();
    const fw::Settings& s = fw::settings();
    EXPECT_EQ(s, fw::Settings{});
    EXPECT_EQ(s.banner, "Formwright");
    EXPECT_EQ(s.scanner, "1010101111000000000110100");
    EXPECT_EQ(s.sendfile, "DATA.TXT");
    EXPECT_EQ(s.landrive, "C");
    EXPECT_EQ(s.landir, "\\QUAYLINK\\");
    EXPECT_EQ(s.ftpport, "21");
    EXPECT_EQ(s.ql_sendmode, 2);
    EXPECT_EQ(s.burst_baud, 5);
    EXPECT_EQ(s.quikbook_baud, 5);
    EXPECT_EQ(s.ql_baud, 5);
    EXPECT_EQ(s.useqty, 1);
    EXPECT_EQ(s.backlight, 1);
    EXPECT_EQ(s.irda, 1);
    EXPECT_EQ(s.ptap_flash, 1);
    EXPECT_EQ(s.ql_flash, 1);
    EXPECT_FALSE(dir.read("orderini").size());
}

TEST_F(SettingsFile, StoredValuesWinAndEmptyOnesKeepTheDefault) {
    write(
        "[ql setup]\r\nFTPPORT=2121\r\nSENDFILE=\r\nLANDIR=\\DATA\\\r\nSENDMODE=0\r\n"
        "[setup]\r\nBANNER=\r\nHEADER1=ITEM\r\nCONNECT=4\r\nSCANNER=111\r\n"
        "[comm]\r\nIRDA=0\r\n[field definitions]\r\nfield4=-M16,-V2\r\n");
    fw::settings_load();
    const fw::Settings& s = fw::settings();
    EXPECT_EQ(s.ftpport, "2121");
    EXPECT_EQ(s.sendfile, "DATA.TXT");
    EXPECT_EQ(s.landir, "\\DATA\\");
    EXPECT_EQ(s.ql_sendmode, 0);
    EXPECT_EQ(s.banner, "Formwright");
    EXPECT_EQ(s.header[0], "ITEM");
    EXPECT_EQ(s.connect, 4);
    EXPECT_EQ(s.scanner, "111");
    EXPECT_EQ(s.irda, 0);
    EXPECT_EQ(s.field[3], "-M16,-V2");

    write("[ql setup]\r\nFTPPORT=\r\n");
    fw::settings_load();
    EXPECT_EQ(fw::settings().ftpport, "21");
}

TEST_F(SettingsFile, ValuesWiderThanTheirKeyOrOutOfRangeKeepTheDefault) {
    write(
        "[setup]\r\nBANNER=ABCDEFGHIJKL\r\nHEADER1=ABCDEFGHIJKLM\r\nCONNECT=7\r\n"
        "BACKLIGHT=x\r\nLOOKUP= 3\r\n[ql setup]\r\nLANDRIVE=DE\r\nBAUD=1\r\nQUAYLINK=5\r\n");
    fw::settings_load();
    const fw::Settings& s = fw::settings();
    EXPECT_EQ(s.banner, "ABCDEFGHIJKL");  // exactly 12 fits
    EXPECT_EQ(s.header[0], "");
    EXPECT_EQ(s.connect, 0);
    EXPECT_EQ(s.backlight, 1);
    EXPECT_EQ(s.lookup, 3);
    EXPECT_EQ(s.landrive, "C");
    EXPECT_EQ(s.ql_baud, 5);
    EXPECT_EQ(s.ql_link, 5);
}

TEST_F(SettingsFile, NewFileGetsSetupTheModeSectionAndFieldsInOrder) {
    fw::settings_load();
    ASSERT_EQ(fw::settings_save(), 0);
    EXPECT_EQ(content(),
              "[setup]\r\nBANNER=Formwright\r\nHEADER1=\r\nHEADER2=\r\nHEADER3=\r\nLOCFLAG=0\r\n"
              "SORTED=0\r\nUSEQTY=1\r\nLOOKUP=0\r\nHEADER_TYPE=0\r\nTIMESTAMP=0\r\nBACKLIGHT=1\r\n"
              "CONNECT=0\r\nSCANNER=1010101111000000000110100\r\n"
              "[acoustic setup]\r\nPHONE=\r\nSTXETX=0\r\nPARITY=1\r\nVOLUME=1\r\n"
              "[field definitions]\r\nfield1=\r\nfield2=\r\nfield3=\r\nfield4=\r\n");
}

TEST_F(SettingsFile, QuaylinkModeWritesItsSectionAndModemInit) {
    fw::settings().connect = fw::kQuaylink;
    fw::settings().ftphost = "10.0.0.2";
    fw::settings().modem_init[1] = "ATZ";
    ASSERT_EQ(fw::settings_save(), 0);
    const std::string file = content();
    EXPECT_EQ(section_text(file, "ql setup"),
              "[ql setup]\r\nQUAYLINK=0\r\nBAUD=5\r\nLOCAL=0\r\nSENDMODE=2\r\nSENDFILE=DATA.TXT\r\n"
              "LANDRIVE=C\r\nLANDIR=\\QUAYLINK\\\r\nPHONE=\r\nTURNAROUND=0\r\nFLASH=1\r\n"
              "FTPHOST=10.0.0.2\r\nFTPUSER=\r\nFTPPASS=\r\nFTPPORT=21\r\nFTPCWD=\r\n"
              "FTPPASSIVE=0\r\n");
    EXPECT_EQ(section_text(file, "modem init"),
              "[modem init]\r\ninit1=\r\ninit2=ATZ\r\ninit3=\r\n");
    EXPECT_EQ(section_text(file, "acoustic setup"), "");
    fw::settings_load();
    EXPECT_EQ(fw::settings().ftphost, "10.0.0.2");
    EXPECT_EQ(fw::settings().modem_init[1], "ATZ");
}

TEST_F(SettingsFile, PtapModeLeavesEveryOtherModeSectionUntouched) {
    const std::string others =
        "[acoustic setup]\r\nPHONE=555\r\nVOLUME=2 ; loud\r\nBAUD=7\r\n"
        "[quikbook setup]\r\nBAUD=3\r\n[comm]\r\nIRDA=0\r\n"
        "[ql setup]\r\nQUAYLINK=3\r\nFTPPORT=2121\r\n[modem init]\r\ninit1=AT&F\r\n";
    write("[setup]\r\nCONNECT=3\r\n" + others + "[ptap setup]\r\nPHONE=1\r\n");
    fw::settings_load();
    fw::Settings& s = fw::settings();
    s.ptap_phone = "0800";
    s.ptap_flash = 0;
    s.acoustic_phone = "999";
    s.quikbook_baud = 2;
    s.irda = 1;
    s.ql_link = 0;
    s.ftpport = "99";
    s.modem_init[0] = "ATZ";
    ASSERT_EQ(fw::settings_save(), 0);
    const std::string file = content();
    EXPECT_NE(file.find(others), std::string::npos) << file;
    EXPECT_EQ(section_text(file, "ptap setup"),
              "[ptap setup]\r\nPHONE=0800\r\nTURNAROUND=0\r\nFLASH=0\r\n");
}

TEST_F(SettingsFile, SaveOfALoadedFileKeepsCommentsAndUnknownKeysByteForByte) {
    const std::string original =
        "; terminal application settings\r\n"
        "[setup]\r\nBANNER=WAREHOUSE\r\nCOLOR=blue\r\nHEADER1=ITEM\r\nHEADER2=\r\nHEADER3=BIN\r\n"
        "LOCFLAG=1\r\nSORTED=1\r\nUSEQTY=0\r\n; lookup off for now\r\nLOOKUP=0\r\n"
        "HEADER_TYPE=0\r\nTIMESTAMP=1\r\nBACKLIGHT=2\r\nCONNECT=1\r\n"
        "SCANNER=10101011110000000001101001\r\n\r\n"
        "[acoustic setup]\r\nBAUD=7\r\nSTXETX=1\r\nEXTRA=1\r\n"
        "[comm]\r\nIRDA=0\r\n"
        "[custom]\r\nanything=goes\r\n"
        "[field definitions]\r\nfield1=-R,-m4,-M10,-XNNNN,-V2\r\nfield2=\r\nfield3=-s\r\n"
        "field4=-M16\r\n; end\r\n";
    write(original);
    fw::settings_load();
    ASSERT_EQ(fw::settings_save(), 0);
    EXPECT_EQ(content(), original);

    fw::settings().burst_baud = 3;
    ASSERT_EQ(fw::settings_save(), 0);
    std::string expected = original;
    expected.replace(expected.find("BAUD=7"), 6, "BAUD=3");
    EXPECT_EQ(content(), expected);
}

TEST_F(SettingsFile, FirstFailedWriteStopsTheSaveAndIsReportedOnce) {
    // A folder where the file should be: every write fails.
    TempDir other;
    ASSERT_EQ(platform::make_directory(other.file("orderini")), 0);
    fw::settings_set_directory(other.path());
    std::vector<std::pair<std::string, std::string>> shown;
    fw::set_save_error_handler([&](const std::string& text, const std::string& caption) {
        shown.emplace_back(text, caption);
    });
    const int rc = fw::settings_save();
    EXPECT_LT(rc, 0);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first,
              "Write Error \r\n" + other.native("orderini") + " \r\nRC=" + std::to_string(rc));
    EXPECT_EQ(shown[0].second, "WRITE ERROR");
}

TEST_F(SettingsFile, ResetStartsClean) {
    fw::settings().banner = "x";
    fw::set_change_count(4);
    fw::settings_reset();
    EXPECT_EQ(fw::settings(), fw::Settings{});
    EXPECT_EQ(fw::change_count(), 0);
    EXPECT_EQ(fw::settings_path(), "orderini");
}

TEST_F(SettingsFile, CollectCountsOnlyRealChanges) {
    std::string slot = "a";
    EXPECT_FALSE(fw::collect(slot, std::string("a")));
    EXPECT_TRUE(fw::collect(slot, std::string("b")));
    EXPECT_EQ(slot, "b");
    EXPECT_EQ(fw::change_count(), 1);
}

}  // namespace
