#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "dialog_fixture.h"
#include "formwright/settings.h"

namespace {

using ModeDialogs = DialogTest;

TEST_F(ModeDialogs, QuickBooksTurnsOnInterleavedTwoOfFive) {
    fw::QuickBooksDialog d;
    d.show();
    EXPECT_EQ(d.windowTitle(), "Quick Books");
    EXPECT_TRUE(child<QRadioButton>(d, "baudRadio3")->isChecked());  // 57600
    click(child<QRadioButton>(d, "baudRadio5"));
    click(child<QCheckBox>(d, "directConnectCheck"));
    click(child<QPushButton>(d, "okButton"));
    EXPECT_EQ(d.result(), QDialog::Accepted);
    const fw::Settings& s = fw::settings();
    EXPECT_EQ(s.scanner, "1110101111000000000110100");
    EXPECT_EQ(s.quikbook_baud, 7);
    EXPECT_EQ(s.irda, 0);
    EXPECT_EQ(fw::change_count(), 3);

    fw::QuickBooksDialog again;
    again.show();
    EXPECT_TRUE(child<QCheckBox>(again, "directConnectCheck")->isChecked());
    click(child<QPushButton>(again, "okButton"));
    EXPECT_EQ(fw::change_count(), 3);  // already on: nothing new
}

TEST_F(ModeDialogs, BurstShowsTheRecordAndCancelKeepsIt) {
    fw::settings().burst_baud = 3;
    fw::settings().stxetx = 1;
    fw::BurstDialog d;
    d.show();
    EXPECT_TRUE(child<QRadioButton>(d, "baudRadio1")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(d, "stxEtxCheck")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(d, "directConnectCheck")->isChecked());
    click(child<QRadioButton>(d, "baudRadio0"));
    click(child<QCheckBox>(d, "stxEtxCheck"));
    click(child<QPushButton>(d, "cancelButton"));
    EXPECT_EQ(fw::settings().burst_baud, 3);
    EXPECT_EQ(fw::settings().stxetx, 1);
    EXPECT_EQ(fw::change_count(), 0);
}

TEST_F(ModeDialogs, AcousticCollectsEveryControl) {
    fw::AcousticDialog d;
    d.show();
    type(child<QLineEdit>(d, "phoneEdit"), "01234567890123456789");
    click(child<QRadioButton>(d, "volumeRadio2"));
    click(child<QRadioButton>(d, "parityRadio0"));
    click(child<QCheckBox>(d, "stxEtxCheck"));
    click(child<QPushButton>(d, "okButton"));
    const fw::Settings& s = fw::settings();
    EXPECT_EQ(s.acoustic_phone, "0123456789012345");  // 16 characters
    EXPECT_EQ(s.volume, 2);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stxetx, 1);
    EXPECT_EQ(fw::change_count(), 4);
}

TEST_F(ModeDialogs, PtapRefusesAnEmptyPhoneNumber) {
    fw::PtapDialog d;
    d.show();
    click(child<QCheckBox>(d, "flashCheck"));
    click(child<QPushButton>(d, "okButton"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "You Must Enter A Phone Number");
    EXPECT_EQ(messages[0].caption, "MODEM");
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.focusWidget(), child<QLineEdit>(d, "phoneEdit"));

    type(child<QLineEdit>(d, "phoneEdit"), "5551234");
    click(child<QPushButton>(d, "okButton"));
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(fw::settings().ptap_phone, "5551234");
    EXPECT_EQ(fw::settings().ptap_flash, 0);
}

TEST_F(ModeDialogs, ScanConfigWritesBoxesAndRadioPositions) {
    fw::ScanConfigDialog d;
    d.show();
    EXPECT_EQ(d.windowTitle(), "Scan Config");
    EXPECT_TRUE(child<QCheckBox>(d, "labelCheck0")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(d, "labelCheck1")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(d, "msiDropRadio2")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(d, "msiCheckRadio0")->isChecked());
    click(child<QCheckBox>(d, "labelCheck0"));
    click(child<QCheckBox>(d, "labelCheck20"));
    click(child<QRadioButton>(d, "msiCheckRadio3"));
    click(child<QPushButton>(d, "okButton"));
    EXPECT_EQ(fw::settings().scanner, "00101011110000000001001001");
    EXPECT_EQ(fw::change_count(), 1);

    fw::ScanConfigDialog unchanged;
    unchanged.show();
    click(child<QPushButton>(unchanged, "okButton"));
    EXPECT_EQ(fw::change_count(), 1);
}

TEST_F(ModeDialogs, ShortScannerTextStaysUntilAFlagIsTurnedOn) {
    fw::settings().scanner = "1";
    fw::ScanConfigDialog d;
    d.show();
    EXPECT_TRUE(child<QRadioButton>(d, "msiDropRadio0")->isChecked());
    click(child<QPushButton>(d, "okButton"));
    EXPECT_EQ(fw::settings().scanner, "1");
    EXPECT_EQ(fw::change_count(), 0);
}

}  // namespace
