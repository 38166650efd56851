#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "dialog_fixture.h"
#include "formwright/settings.h"

namespace {

class ConfigFields : public DialogTest {
  protected:
    void open(std::array<bool, 3> present = {true, true, true}) {
        dialog = std::make_unique<fw::ConfigFieldsDialog>(present);
        dialog->show();
    }
    QLineEdit* box(const char* name) { return child<QLineEdit>(*dialog, name); }
    void ok() { click(child<QPushButton>(*dialog, "okButton")); }
    void cancel() { click(child<QPushButton>(*dialog, "cancelButton")); }
    std::unique_ptr<fw::ConfigFieldsDialog> dialog;
};

TEST_F(ConfigFields, MinimumWithEmptyMaximumIsRefused) {
    open();
    type(box("field1Min"), "5");
    ok();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Maximum Can't Be Less the Minimum");
    EXPECT_EQ(messages[0].caption, "MAXIMUM");
    EXPECT_EQ(messages[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->focusWidget(), box("field1Max"));

    cancel();
    EXPECT_EQ(fw::settings().field[0], "");
    EXPECT_EQ(fw::change_count(), 0);
}

TEST_F(ConfigFields, FieldMaximumIsTwelveItemMaximumSixteen) {
    open();
    type(box("field2Max"), "13");
    type(box("itemMax"), "13");
    ok();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Maximum length is 12");
    EXPECT_EQ(messages[0].caption, "MAXIMUM");
    EXPECT_EQ(dialog->focusWidget(), box("field2Max"));

    type(box("field2Max"), "12");
    ok();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(fw::settings().field[1], "-M12");
    EXPECT_EQ(fw::settings().field[3], "-M13");

    open();
    type(box("itemMax"), "17");
    ok();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "Maximum length is 16");
}

TEST_F(ConfigFields, MinimumAndScanLengthStopAtSixteen) {
    open();
    type(box("field3Min"), "17");
    ok();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Maximum length is 16");
    EXPECT_EQ(messages[0].caption, "MINIMUM");
    type(box("field3Min"), "");
    type(box("itemScanLen"), "17");
    ok();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].caption, "SCAN LENGTH");
    EXPECT_EQ(dialog->focusWidget(), box("itemScanLen"));
}

TEST_F(ConfigFields, ScanOffInField2TouchesOnlyField2) {
    open();
    type(box("field1ScanLen"), "4");
    type(box("field2ScanLen"), "5");
    click(child<QCheckBox>(*dialog, "field2ScanOff"));
    EXPECT_EQ(fw::change_count(), 1);
    EXPECT_EQ(box("field2ScanLen")->text(), "");
    EXPECT_FALSE(box("field2ScanLen")->isEnabled());
    EXPECT_FALSE(child<QLabel>(*dialog, "field2ScanLenLabel")->isEnabled());
    EXPECT_EQ(box("field1ScanLen")->text(), "4");
    EXPECT_TRUE(box("field1ScanLen")->isEnabled());
    EXPECT_TRUE(box("field3ScanLen")->isEnabled());

    ok();
    EXPECT_EQ(fw::settings().field[0], "-S4");
    EXPECT_EQ(fw::settings().field[1], "-s");
    EXPECT_EQ(fw::settings().field[2], "");

    open();  // unticking enables the box again
    EXPECT_FALSE(box("field2ScanLen")->isEnabled());
    click(child<QCheckBox>(*dialog, "field2ScanOff"));
    EXPECT_TRUE(box("field2ScanLen")->isEnabled());
}

TEST_F(ConfigFields, OptionStringsAreShownAndRewrittenOnlyAfterAChange) {
    fw::settings().field[0] = "-r, -m2 ,-V d";
    fw::settings().field[3] = "-M16,-S16";
    open();
    EXPECT_TRUE(child<QCheckBox>(*dialog, "field1RightToLeft")->isChecked());
    EXPECT_EQ(box("field1Min")->text(), "2");
    EXPECT_EQ(box("field1Max")->text(), "");
    EXPECT_TRUE(child<QRadioButton>(*dialog, "field1Valid3")->isChecked());
    EXPECT_EQ(box("itemScanLen")->text(), "16");
    ok();
    EXPECT_EQ(fw::settings().field[0], "-r, -m2 ,-V d");
    EXPECT_EQ(fw::change_count(), 0);

    // Min 2 needs a maximum of at least 2.
    open();
    type(box("field1Max"), "9");
    type(box("field1Mask"), "N,N N;N");  // separators cannot be typed
    click(child<QRadioButton>(*dialog, "field1Valid4"));
    ok();
    EXPECT_EQ(fw::settings().field[0], "-R,-m2,-M9,-XNNNN,-VT");
    EXPECT_EQ(fw::settings().field[3], "-M16");  // scan length equal to the maximum
}

TEST_F(ConfigFields, EachFieldUsesItsOwnScanLengthText) {
    open();
    type(box("field1Max"), "10");
    type(box("field1ScanLen"), "8");
    type(box("itemMax"), "6");
    type(box("field2ScanLen"), "0");
    ok();
    EXPECT_EQ(fw::settings().field[0], "-M10,-S8");
    EXPECT_EQ(fw::settings().field[1], "-s");
    EXPECT_EQ(fw::settings().field[3], "-M6");
}

TEST_F(ConfigFields, FieldsWithoutALabelAreNeitherEditedNorRewritten) {
    fw::settings().field[1] = "-m1,-M1,junk";
    open({true, false, false});
    EXPECT_TRUE(child<QWidget>(*dialog, "field1Group")->isEnabled());
    EXPECT_FALSE(child<QWidget>(*dialog, "field2Group")->isEnabled());
    EXPECT_FALSE(child<QWidget>(*dialog, "field3Group")->isEnabled());
    EXPECT_TRUE(child<QWidget>(*dialog, "itemGroup")->isEnabled());
    click(child<QCheckBox>(*dialog, "itemRightToLeft"));
    ok();
    EXPECT_EQ(fw::settings().field[1], "-m1,-M1,junk");
    EXPECT_EQ(fw::settings().field[3], "-R");
}

TEST_F(ConfigFields, CancelAfterScanOffCountsNothing) {
    fw::set_change_count(3);
    open();
    click(child<QCheckBox>(*dialog, "field1ScanOff"));
    click(child<QCheckBox>(*dialog, "itemScanOff"));
    EXPECT_EQ(fw::change_count(), 5);
    cancel();
    EXPECT_EQ(fw::change_count(), 3);
    EXPECT_EQ(fw::settings().field[0], "");
}

}  // namespace
