#include <gtest/gtest.h>

#include <string>

#include "formwright/settings.h"

using fw::field_options_format;
using fw::field_options_parse;
using fw::FieldOptions;

namespace {

TEST(FieldOptionsParse, BlanksAreIgnoredAndLettersSelectTheOption) {
    const FieldOptions o = field_options_parse("-r, -m2 ,-V d");
    EXPECT_TRUE(o.right_to_left);
    EXPECT_EQ(o.accept_min, 2);
    EXPECT_EQ(o.validation, fw::kValidDate);
    EXPECT_EQ(o.accept_max, 0);
    EXPECT_FALSE(o.scan_off);
}

TEST(FieldOptionsParse, MinMaxAndScanLettersAreCaseSensitive) {
    FieldOptions o = field_options_parse("-M10,-m3,-S8");
    EXPECT_EQ(o.accept_max, 10);
    EXPECT_EQ(o.accept_min, 3);
    EXPECT_EQ(o.scan_length, 8);
    EXPECT_FALSE(o.scan_off);

    o = field_options_parse("-S8,-s");
    EXPECT_TRUE(o.scan_off);
    EXPECT_EQ(o.scan_length, 0);

    o = field_options_parse("/R,/xAB-9,/V3");
    EXPECT_TRUE(o.right_to_left);
    EXPECT_EQ(o.mask, "AB-9");
    EXPECT_EQ(o.validation, fw::kMod10Tat);
    EXPECT_EQ(field_options_parse("-v2").validation, fw::kMod10Dad);
    EXPECT_EQ(field_options_parse("-Vt").validation, fw::kValidTime);
}

TEST(FieldOptionsParse, TokensWithoutDashAndUnknownLettersAreIgnored) {
    const FieldOptions o = field_options_parse("M5,R,-Q7,,-V9,-");
    EXPECT_EQ(o, FieldOptions{});
}

TEST(FieldOptionsParse, TokensKeepTwentyThreeCharactersAndMasksNineteen) {
    // 2 + 21 characters survive, the mask itself is cut at 19.
    const FieldOptions o = field_options_parse("-XABCDEFGHIJKLMNOPQRSTUVWXYZ,-m4");
    EXPECT_EQ(o.mask, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(o.accept_min, 4);
    // A huge number stays huge (and positive), so the dialog refuses it.
    EXPECT_GT(field_options_parse("-M1234567890123456789012345").accept_max, 16);
}

TEST(FieldOptionsFormat, FollowsTheFixedOrder) {
    FieldOptions o;
    o.right_to_left = true;
    o.accept_min = 4;
    o.accept_max = 10;
    o.mask = "NNNN";
    o.validation = fw::kMod10Dad;
    EXPECT_EQ(field_options_format(o, ""), "-R,-m4,-M10,-XNNNN,-V2");
    o.scan_length = 6;
    o.validation = fw::kValidTime;
    EXPECT_EQ(field_options_format(o, "6"), "-R,-m4,-M10,-S6,-XNNNN,-VT");
    EXPECT_EQ(field_options_format(FieldOptions{}, ""), "");
}

TEST(FieldOptionsFormat, ScanOffRoundTrips) {
    const FieldOptions o = field_options_parse("-s");
    EXPECT_TRUE(o.scan_off);
    EXPECT_EQ(o.scan_length, 0);
    EXPECT_EQ(field_options_format(o, ""), "-s");
    // The scan-length entry does not add a second option while scan is off.
    EXPECT_EQ(field_options_format(o, "5"), "-s");
}

TEST(FieldOptionsFormat, ScanLengthDependsOnItsEntryText) {
    FieldOptions o;
    o.accept_max = 8;
    o.scan_length = 8;
    EXPECT_EQ(field_options_format(o, "8"), "-M8");  // equal to the maximum
    o.scan_length = 0;
    EXPECT_EQ(field_options_format(o, ""), "-M8");
    EXPECT_EQ(field_options_format(o, "0"), "-M8,-s");  // an entry of 0: no scanning
    o.scan_length = 5;
    EXPECT_EQ(field_options_format(o, ""), "-M8");
    EXPECT_EQ(field_options_format(o, "5"), "-M8,-S5");
    o.validation = fw::kValidDate;
    EXPECT_EQ(field_options_format(o, "5"), "-M8,-S5,-VD");
}

TEST(FieldOptionsFormat, ResultIsCutAtSixtyThreeCharacters) {
    FieldOptions o;
    o.mask = std::string(80, 'N');
    o.right_to_left = true;
    const std::string text = field_options_format(o, "");
    EXPECT_EQ(text.size(), 63u);
    EXPECT_EQ(text.substr(0, 5), "-R,-X");
}

TEST(ScannerFlags, DecodeReadsBoxesAndFirstRadioPosition) {
    fw::ScannerChoice c = fw::scanner_decode(fw::kDefaultScanner);
    EXPECT_TRUE(c.label[0]);
    EXPECT_FALSE(c.label[1]);
    EXPECT_TRUE(c.label[19]);
    EXPECT_TRUE(c.label[20]);
    EXPECT_FALSE(c.label[18]);
    EXPECT_EQ(c.msi_drop, 2);   // "01"
    EXPECT_EQ(c.msi_check, 0);  // "00", no third position yet
    c = fw::scanner_decode("11");
    EXPECT_TRUE(c.label[1]);
    EXPECT_FALSE(c.label[2]);
    EXPECT_EQ(c.msi_drop, 0);
    EXPECT_EQ(c.msi_check, 0);
}

TEST(ScannerFlags, EncodeGrowsOnlyForModTenPlusEleven) {
    const std::string def = fw::kDefaultScanner;
    fw::ScannerChoice c = fw::scanner_decode(def);
    EXPECT_EQ(fw::scanner_encode(def, c), def);

    c.msi_check = 3;
    const std::string grown = fw::scanner_encode(def, c);
    EXPECT_EQ(grown, "10101011110000000001101001");
    c.msi_check = 0;
    c.msi_drop = 2;
    EXPECT_EQ(fw::scanner_encode(grown, c), "10101011110000000001101000");
    c.label[0] = false;
    c.label[1] = true;
    EXPECT_EQ(fw::scanner_encode(def, c).substr(0, 3), "011");
    EXPECT_EQ(fw::scanner_encode(def, c).size(), 25u);
}

TEST(ScannerFlags, OtherCharactersAndShortTextsAreLeftAlone) {
    fw::ScannerChoice c = fw::scanner_decode("1x0");
    EXPECT_EQ(fw::scanner_encode("1x0", c), "1x0");
    c.label[0] = false;
    c.label[1] = true;
    EXPECT_EQ(fw::scanner_encode("1x0", c), "0x0");
    EXPECT_EQ(fw::scanner_flag_on("1", 1), "11");
    EXPECT_EQ(fw::scanner_flag_on("", 1), "01");
    EXPECT_EQ(fw::scanner_flag_on(fw::kDefaultScanner, 1).substr(0, 3), "111");
}

}  // namespace
