// Request splitting and the sent-file register shared by both bridges.
#include <gtest/gtest.h>

#include <string>

#include "foundation/settings.h"
#include "network/bridge.h"
#include "platform/files.h"
#include "temp_dir.h"

namespace {

TEST(SplitRequest, FourFieldsAtCommasAndNothingMore) {
    ql::split_request("4,C:/DATA.TXT,DATA.TXT,pw,ignored");
    EXPECT_EQ(ql::request_field(0), "4");
    EXPECT_EQ(ql::request_field(1), "C:/DATA.TXT");
    EXPECT_EQ(ql::request_field(2), "DATA.TXT");
    EXPECT_EQ(ql::request_field(3), "pw");
    EXPECT_EQ(ql::request_field(4), "");

    // A new split clears what the last one left.
    ql::split_request("9,,B");
    EXPECT_EQ(ql::request_field(1), "");
    EXPECT_EQ(ql::request_field(2), "B");
    EXPECT_EQ(ql::request_field(3), "");

    ql::split_request("");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ql::request_field(i), "");
}

TEST(SplitRequest, FieldsKeep255Characters) {
    ql::split_request("1," + std::string(300, 'h') + ",u");
    EXPECT_EQ(ql::request_field(1), std::string(255, 'h'));
    EXPECT_EQ(ql::request_field(2), "u");
}

class SentRegister : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::settings_reset_defaults();
        ql::settings().workdir = dir.path() + "/";
        ql::settings().lastftpsend = true;
    }
    void TearDown() override { ql::settings_reset_defaults(); }
    testing_support::TempDir dir;
};

TEST_F(SentRegister, LivesInTheWorkingDirectory) {
    EXPECT_EQ(ql::sent_register_path(), dir.path() + "/FTPSENDX.INI");
}

TEST_F(SentRegister, RecordedNameMatchesExactlyOnly) {
    EXPECT_EQ(ql::sent_register_check("/w/A.TXT"), -1);  // no register yet
    ASSERT_EQ(ql::sent_register_record("/w/A.TXT"), 0);
    EXPECT_EQ(dir.read("FTPSENDX.INI"), "[setup]\r\nsent=/w/A.TXT\r\n");
    EXPECT_EQ(ql::sent_register_check("/w/A.TXT"), 0);
    EXPECT_EQ(ql::sent_register_check("/w/a.txt"), -1);   // case counts
    EXPECT_EQ(ql::sent_register_check("/w/A.TXT "), -1);  // length counts
    EXPECT_EQ(ql::sent_register_check("/w/A.TX"), -1);

    ASSERT_EQ(ql::sent_register_record("B.TXT"), 0);
    EXPECT_EQ(ql::sent_register_check("/w/A.TXT"), -1);
    EXPECT_EQ(ql::sent_register_check("B.TXT"), 0);
}

TEST_F(SentRegister, EmptyStoredNameNeverMatches) {
    ASSERT_EQ(ql::sent_register_record(""), 0);
    EXPECT_EQ(ql::sent_register_check(""), -1);
}

TEST_F(SentRegister, OffMeansNoCheckAndNoWrite) {
    ASSERT_EQ(ql::sent_register_record("A.TXT"), 0);
    ql::settings().lastftpsend = false;
    EXPECT_EQ(ql::sent_register_check("A.TXT"), -1);
    EXPECT_EQ(ql::sent_register_record("B.TXT"), -1);
    ql::settings().lastftpsend = true;
    EXPECT_EQ(ql::sent_register_check("A.TXT"), 0);
}

TEST_F(SentRegister, UnreadableRegisterHoldsNoName) {
    ASSERT_EQ(platform::make_directory(dir.file("FTPSENDX.INI")), 0);
    EXPECT_EQ(ql::sent_register_check("A.TXT"), -1);
    EXPECT_NE(ql::sent_register_record("A.TXT"), 0);
}

}  // namespace
