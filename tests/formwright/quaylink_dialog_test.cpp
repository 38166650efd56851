#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "dialog_fixture.h"
#include "formwright/settings.h"

namespace {

class QuaylinkDialogTest : public DialogTest {
  protected:
    QRadioButton* radio(const char* name) { return child<QRadioButton>(*dialog, name); }
    QLineEdit* box(const char* name) { return child<QLineEdit>(*dialog, name); }
    bool enabled(const char* name) { return child<QWidget>(*dialog, name)->isEnabled(); }
    void ok() { click(child<QPushButton>(*dialog, "okButton")); }
    void type_host(const QStringList& parts) {
        QWidget* host = child<QWidget>(*dialog, "hostEdit");
        for (int i = 0; i < 4; ++i) {
            type(child<QLineEdit>(*host, QString("part%1").arg(i).toLatin1().constData()),
                 parts.value(i));
        }
    }
    // Types like an operator: each key goes to whichever box has the focus
    // at that moment, so the control's own moves between boxes count.
    void type_keys(const QString& keys) {
        for (QChar c : keys) {
            QWidget* focus = dialog->focusWidget();
            ASSERT_NE(focus, nullptr);
            QTest::keyClicks(focus, QString(c));
        }
    }
    // GPRS with user and password filled in: OK then saves the host.
    void open_gprs() {
        fw::settings().ftphost.clear();
        open();
        click(radio("connectRadio5"));
        type(box("userEdit"), "scanner");
        type(box("passwordEdit"), "secret");
    }
    QLineEdit* host_part(int i) {
        QWidget* host = child<QWidget>(*dialog, "hostEdit");
        return child<QLineEdit>(*host, QString("part%1").arg(i).toLatin1().constData());
    }
    void open() {
        dialog = std::make_unique<fw::QuaylinkDialog>();
        dialog->show();
    }
    std::unique_ptr<fw::QuaylinkDialog> dialog;
};

TEST_F(QuaylinkDialogTest, GprsNeedsHostUserAndPassword) {
    open();
    click(radio("connectRadio5"));
    EXPECT_EQ(fw::settings().ql_link, fw::kGprs);
    ok();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "You Must Enter A Valid IP address");
    EXPECT_EQ(messages[0].caption, "FTP");
    EXPECT_TRUE(child<QWidget>(*dialog, "hostEdit")->isAncestorOf(dialog->focusWidget()));

    type_host({"0", "0", "0", "0"});  // all zeros counts as empty
    ok();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "You Must Enter A Valid IP address");

    type_host({"192", "168", "1", "300"});  // 300 cannot be typed: the last part is "30"
    ok();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].text, "You Must Enter A User ID");
    EXPECT_EQ(messages[2].caption, "FTP");
    EXPECT_EQ(dialog->focusWidget(), box("userEdit"));

    type(box("userEdit"), "scanner");
    ok();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[3].text, "You Must Enter A Password");
    EXPECT_EQ(dialog->focusWidget(), box("passwordEdit"));

    type(box("passwordEdit"), "secret");
    ok();
    EXPECT_EQ(messages.size(), 4u);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(fw::settings().ftphost, "192.168.1.30");
    EXPECT_EQ(fw::settings().ftpuser, "scanner");
    EXPECT_EQ(fw::settings().ftppass, "secret");
}

TEST_F(QuaylinkDialogTest, DirectAfterDataBinFallsBackToStandard) {
    fw::settings().ql_phone = "555";
    open();
    EXPECT_FALSE(enabled("sendModeRadio3"));
    click(radio("connectRadio3"));
    EXPECT_TRUE(enabled("sendModeRadio3"));
    EXPECT_TRUE(enabled("sendFileEdit"));
    click(radio("sendModeRadio3"));
    EXPECT_EQ(fw::settings().ql_sendmode, fw::kDataBin);
    EXPECT_FALSE(enabled("sendFileEdit"));

    click(radio("connectRadio0"));
    EXPECT_EQ(fw::settings().ql_sendmode, fw::kStandard);
    EXPECT_TRUE(radio("sendModeRadio0")->isChecked());
    EXPECT_FALSE(enabled("sendModeRadio3"));
    EXPECT_TRUE(enabled("sendFileEdit"));
    EXPECT_EQ(fw::change_count(), 4);  // link, send mode, link, send mode
}

TEST_F(QuaylinkDialogTest, EnablingFollowsLinkAndLocation) {
    open();  // DIRECT, LOCAL, APPEND
    EXPECT_TRUE(enabled("baudRadio0"));
    EXPECT_FALSE(enabled("phoneEdit"));
    EXPECT_FALSE(enabled("init2Label"));
    EXPECT_TRUE(enabled("sendFileEdit"));
    EXPECT_FALSE(enabled("lanDriveEdit"));
    EXPECT_TRUE(enabled("sendModeRadio2"));
    EXPECT_FALSE(enabled("ftpGroup"));

    click(radio("locationRadio1"));  // LAN
    EXPECT_TRUE(enabled("lanDriveEdit"));
    EXPECT_TRUE(enabled("lanDirLabel"));
    EXPECT_TRUE(enabled("sendFileEdit"));
    EXPECT_FALSE(enabled("ftpGroup"));

    click(radio("locationRadio2"));  // FTP
    EXPECT_TRUE(enabled("ftpGroup"));
    EXPECT_FALSE(enabled("sendFileEdit"));
    for (const char* r : {"sendModeRadio0", "sendModeRadio1", "sendModeRadio2", "sendModeRadio3"})
        EXPECT_FALSE(enabled(r)) << r;

    click(radio("connectRadio3"));  // MODEM
    EXPECT_FALSE(enabled("baudRadio0"));
    EXPECT_TRUE(enabled("phoneEdit"));
    EXPECT_TRUE(enabled("init3Edit"));

    click(radio("connectRadio4"));  // 802.11
    EXPECT_FALSE(enabled("locationRadio0"));
    EXPECT_FALSE(enabled("sendModeRadio0"));
    EXPECT_FALSE(enabled("phoneEdit"));
    EXPECT_TRUE(enabled("ftpGroup"));
    EXPECT_TRUE(enabled("passiveCheck"));

    click(radio("connectRadio1"));  // IRDA, location still FTP
    EXPECT_TRUE(enabled("baudRadio5"));
    EXPECT_TRUE(enabled("locationRadio0"));
    EXPECT_TRUE(enabled("ftpGroup"));
}

TEST_F(QuaylinkDialogTest, ModemNeedsAPhoneNumber) {
    open();
    click(radio("connectRadio3"));
    ok();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "You Must Enter A Phone Number");
    EXPECT_EQ(messages[0].caption, "MODEM");
    EXPECT_EQ(dialog->focusWidget(), box("phoneEdit"));
    type(box("phoneEdit"), "0800123");
    type(box("init1Edit"), "AT&F");
    click(radio("locationRadio2"));  // FTP opens the FTP group
    type(box("portEdit"), "2x1");
    click(child<QCheckBox>(*dialog, "passiveCheck"));
    ok();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const fw::Settings& s = fw::settings();
    EXPECT_EQ(s.ql_phone, "0800123");
    EXPECT_EQ(s.modem_init[0], "AT&F");
    EXPECT_EQ(s.ftpport, "21");  // digits only
    EXPECT_EQ(s.ftppassive, 1);
    EXPECT_EQ(s.ftphost, "");
}

TEST_F(QuaylinkDialogTest, CancelRestoresRecordAndCount) {
    fw::set_change_count(2);
    const fw::Settings before = fw::settings();
    open();
    click(radio("connectRadio3"));
    click(radio("locationRadio1"));
    type(box("userEdit"), "x");
    click(child<QPushButton>(*dialog, "cancelButton"));
    EXPECT_EQ(fw::settings(), before);
    EXPECT_EQ(fw::change_count(), 2);
}

TEST_F(QuaylinkDialogTest, StoredValuesSurviveShowingAndCollecting) {
    fw::Settings& s = fw::settings();
    s.ftphost = "ftp.example.org";      // not an address the control can show
    s.sendfile = std::string(30, 'F');  // wider than the box
    s.ql_link = fw::kWlan;
    s.ftpuser = "u";
    s.ftppass = "p";
    open();
    ok();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(s.ftphost, "ftp.example.org");
    EXPECT_EQ(s.sendfile, std::string(30, 'F'));
    EXPECT_EQ(fw::change_count(), 0);

    s.ftphost = "10.1.2.3";
    open();
    type_host({"10", "1", "2", "4"});
    ok();
    EXPECT_EQ(s.ftphost, "10.1.2.4");
    EXPECT_EQ(fw::change_count(), 1);
}

// Three digits move on by themselves; the "." typed next must not skip a
// part (192.168.1.10 used to be saved as 192.0.168.110).
TEST_F(QuaylinkDialogTest, HostTypedKeyByKeyIsSavedAsTyped) {
    for (const QString address : {"192.168.1.10", "172.16.254.1", "10.0.0.5", "255.255.255.255"}) {
        open_gprs();
        host_part(0)->setFocus();
        type_keys(address);
        ok();
        EXPECT_TRUE(messages.empty()) << address.toStdString();
        EXPECT_EQ(dialog->result(), QDialog::Accepted) << address.toStdString();
        EXPECT_EQ(fw::settings().ftphost, address.toStdString());
        messages.clear();
    }
}

TEST_F(QuaylinkDialogTest, DotInAnEmptyPartStaysAndBackspaceGoesBack) {
    open_gprs();
    host_part(0)->setFocus();
    type_keys(".");  // nothing typed yet: stays in the first part
    EXPECT_EQ(dialog->focusWidget(), host_part(0));
    type_keys("10.");
    EXPECT_EQ(dialog->focusWidget(), host_part(1));
    QTest::keyClick(host_part(1), Qt::Key_Backspace);
    EXPECT_EQ(dialog->focusWidget(), host_part(0));
    type_keys("0.20.30.40");
    ok();
    EXPECT_EQ(fw::settings().ftphost, "100.20.30.40");
}

TEST_F(QuaylinkDialogTest, PastedAddressFillsAllParts) {
    open_gprs();
    QApplication::clipboard()->setText(" 172.16.254.1 ");
    host_part(1)->setFocus();
    QTest::keySequence(host_part(1), QKeySequence::Paste);
    QApplication::processEvents();
    EXPECT_EQ(host_part(0)->text(), "172");
    EXPECT_EQ(host_part(3)->text(), "1");
    ok();
    EXPECT_EQ(fw::settings().ftphost, "172.16.254.1");

    open_gprs();  // longer than the terminal keeps: nothing changes
    QApplication::clipboard()->setText("ftp.example.org.uk");
    host_part(0)->setFocus();
    QTest::keySequence(host_part(0), QKeySequence::Paste);
    QApplication::processEvents();
    EXPECT_EQ(host_part(0)->text(), "");
    EXPECT_FALSE(child<QWidget>(*dialog, "name")->isVisible());
}

// A host name or an IPv6 address, typed from the first key or pasted, goes
// into the name box, which says how much the terminal keeps; emptying it
// brings the four address boxes back.
TEST_F(QuaylinkDialogTest, HostNamesAndIpv6AddressesAreTakenAsTyped) {
    for (const QString host : {"ftp.example.org", "2001:db8::5", "::1"}) {
        open_gprs();
        host_part(0)->setFocus();
        for (QChar c : host) {  // an operator's pace: the control switches between keys
            QTest::keyClicks(dialog->focusWidget(), QString(c));
            QApplication::processEvents();
        }
        auto* name = child<QLineEdit>(*dialog, "name");
        EXPECT_TRUE(name->isVisible()) << host.toStdString();
        EXPECT_TRUE(child<QWidget>(*dialog, "nameNote")->isVisible());
        EXPECT_FALSE(host_part(0)->isVisible());
        EXPECT_EQ(name->maxLength(), 16);
        ok();
        EXPECT_TRUE(messages.empty()) << host.toStdString();
        EXPECT_EQ(fw::settings().ftphost, host.toStdString());
    }
    open();  // a stored name is shown in the name box
    auto* name = child<QLineEdit>(*dialog, "name");
    EXPECT_EQ(name->text(), "::1");
    name->setFocus();
    name->selectAll();
    QTest::keyClick(name, Qt::Key_Backspace);
    QApplication::processEvents();
    EXPECT_TRUE(host_part(0)->isVisible());
    EXPECT_FALSE(name->isVisible());
    ok();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "You Must Enter A Valid IP address");
}

TEST_F(QuaylinkDialogTest, PasswordIsNotShown) {
    fw::settings().ftppass = "secret";
    open();
    EXPECT_EQ(box("passwordEdit")->echoMode(), QLineEdit::Password);
    ok();
    EXPECT_EQ(fw::settings().ftppass, "secret");
}

}  // namespace
