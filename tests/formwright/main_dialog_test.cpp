#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "dialog_fixture.h"
#include "formwright/settings.h"
#include "platform/files.h"

namespace {

using MainWindow = DialogTest;

TEST_F(MainWindow, OpensWithTheFileValuesAndItsPath) {
    dir.write("orderini",
              "[setup]\r\nBANNER=DOCK 4\r\nHEADER2=LOT\r\nLOOKUP=2\r\nCONNECT=3\r\nSORTED=1\r\n");
    fw::set_change_count(5);
    fw::MainDialog w(dir.path());
    EXPECT_EQ(w.windowTitle(), "Formwright Setup V2.02");
    EXPECT_EQ(fw::change_count(), 0);
    EXPECT_EQ(child<QLineEdit>(w, "bannerEdit")->text(), "DOCK 4");
    EXPECT_EQ(child<QLineEdit>(w, "field2Edit")->text(), "LOT");
    EXPECT_TRUE(child<QRadioButton>(w, "lookupRadio2")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(w, "commRadio3")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(w, "duplicateCheck")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(w, "qtyCheck")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(w, "backlightRadio1")->isChecked());
    EXPECT_EQ(child<QLabel>(w, "statusLabel")->text(),
              QString::fromStdString("File: " + dir.native("orderini")));
}

TEST_F(MainWindow, ExitWithoutChangesClosesWithoutAsking) {
    fw::MainDialog w(dir.path());
    w.show();
    click(child<QPushButton>(w, "exitButton"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(file_exists());
}

TEST_F(MainWindow, CloseBoxNeverSavesEvenAfterChanges) {
    fw::MainDialog w(dir.path());
    w.show();
    type(child<QLineEdit>(w, "bannerEdit"), "CHANGED");
    click(child<QRadioButton>(w, "commRadio2"));
    EXPECT_EQ(fw::change_count(), 1);
    w.close();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(file_exists());
}

TEST_F(MainWindow, LinkToItemNeedsField3BeforeExit) {
    fw::MainDialog w(dir.path());
    w.show();
    click(child<QRadioButton>(w, "linkRadio1"));
    click(child<QPushButton>(w, "exitButton"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Field 3 Must Have Data \r\nTo Use Link Item");
    EXPECT_EQ(messages[0].caption, "FIELD 3");
    EXPECT_EQ(messages[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.focusWidget(), child<QLineEdit>(w, "field3Edit"));
    EXPECT_FALSE(file_exists());

    type(child<QLineEdit>(w, "field3Edit"), "BIN");
    answer = QMessageBox::Yes;
    click(child<QPushButton>(w, "exitButton"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "Save Changes?");
    EXPECT_EQ(messages[1].caption, "EXIT");
    EXPECT_EQ(messages[1].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_FALSE(w.isVisible());
    EXPECT_NE(file().find("HEADER3=BIN\r\nLOCFLAG=1\r\n"), std::string::npos) << file();
}

TEST_F(MainWindow, NewModeOpensItsDialogAndCountsOnceEvenWhenCancelled) {
    fw::MainDialog w(dir.path());
    w.show();
    QString dialog_class;
    on_dialog = [&](QDialog& d) {
        dialog_class = d.metaObject()->className();
        click(child<QAbstractButton>(d, "cancelButton"));
    };
    click(child<QRadioButton>(w, "commRadio1"));
    EXPECT_EQ(opened, std::vector<QString>{"Burst"});
    EXPECT_EQ(dialog_class, "fw::BurstDialog");
    EXPECT_EQ(fw::settings().connect, fw::kBurst);
    EXPECT_EQ(fw::change_count(), 1);

    // The mode already chosen opens nothing.
    click(child<QRadioButton>(w, "commRadio1"));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(fw::change_count(), 1);

    answer = QMessageBox::No;
    click(child<QPushButton>(w, "exitButton"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Save Changes?");
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(file_exists());
}

TEST_F(MainWindow, CancelInTheExitQuestionStaysAndYesSaves) {
    dir.write("orderini", "; keep me\r\n[setup]\r\nBANNER=OLD\r\nCUSTOM=1\r\n");
    fw::MainDialog w(dir.path());
    w.show();
    type(child<QLineEdit>(w, "bannerEdit"), "NEW;BANNER");  // ';' cannot be typed
    click(child<QCheckBox>(w, "timeStampCheck"));
    answer = QMessageBox::Cancel;
    click(child<QPushButton>(w, "exitButton"));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(file(), "; keep me\r\n[setup]\r\nBANNER=OLD\r\nCUSTOM=1\r\n");

    answer = QMessageBox::Yes;
    click(child<QPushButton>(w, "exitButton"));
    EXPECT_FALSE(w.isVisible());
    const std::string saved = file();
    EXPECT_EQ(saved.rfind("; keep me\r\n[setup]\r\nBANNER=NEWBANNER\r\nCUSTOM=1\r\n", 0), 0u)
        << saved;
    EXPECT_NE(saved.find("TIMESTAMP=1\r\n"), std::string::npos);
}

TEST_F(MainWindow, FailedSaveShowsWriteErrorAndKeepsTheWindow) {
    ASSERT_EQ(platform::make_directory(dir.file("orderini")), 0);
    fw::MainDialog w(dir.path());
    w.show();
    click(child<QCheckBox>(w, "qtyCheck"));
    answer = QMessageBox::Yes;
    click(child<QPushButton>(w, "exitButton"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].caption, "WRITE ERROR");
    EXPECT_TRUE(messages[1].text.startsWith("Write Error \r\n"));
    EXPECT_EQ(messages[1].buttons, QMessageBox::Ok);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindow, ButtonsOpenTheirDialogs) {
    dir.write("orderini", "[setup]\r\nCONNECT=4\r\nHEADER1=ITEM\r\n");
    fw::MainDialog w(dir.path());
    w.show();
    std::vector<bool> groups;
    on_dialog = [&](QDialog& d) {
        if (d.windowTitle() == "Config Fields") {
            for (const char* g : {"field1Group", "field2Group", "field3Group", "itemGroup"})
                groups.push_back(child<QWidget>(d, g)->isEnabled());
        }
        click(child<QAbstractButton>(d, "cancelButton"));
    };
    click(child<QPushButton>(w, "communicationsButton"));
    click(child<QPushButton>(w, "scannerButton"));
    click(child<QPushButton>(w, "advancedFieldButton"));
    EXPECT_EQ(opened, (std::vector<QString>{"Quaylink", "Scan Config", "Config Fields"}));
    EXPECT_EQ(groups, (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(fw::change_count(), 0);
}

TEST_F(MainWindow, RealMessageBoxHasTheWarningIconAndCaption) {
    fw::set_message_function(nullptr);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    QTimer::singleShot(0, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box == nullptr || !box->isVisible()) continue;
            icon = box->icon();
            title = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::No)->click();
        }
    });
    const auto result = fw::warn(nullptr, "Field 3 Must Have Data \r\nTo Use Link Item", "FIELD 3",
                                 QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(result, QMessageBox::No);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(title, "FIELD 3");
    EXPECT_EQ(text, "Field 3 Must Have Data \nTo Use Link Item");
}

// Tab reaches each radio group once, at its checked radio; Return presses
// the focused button.
TEST_F(MainWindow, TabEntersRadioGroupsAtTheCheckedRadioAndReturnPresses) {
    dir.write("orderini", "[setup]\r\nLOOKUP=2\r\nCONNECT=3\r\nBACKLIGHT=1\r\n");
    fw::MainDialog w(dir.path());
    w.show();
    child<QLineEdit>(w, "bannerEdit")->setFocus();
    QStringList reached;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
        if (auto* r = qobject_cast<QRadioButton*>(w.focusWidget())) reached << r->objectName();
    }
    ASSERT_FALSE(reached.isEmpty());
    for (const QString& name : reached) {
        EXPECT_TRUE(child<QRadioButton>(w, name.toLatin1().constData())->isChecked())
            << name.toStdString();
    }
    EXPECT_TRUE(reached.contains("commRadio3"));
    EXPECT_TRUE(reached.contains("lookupRadio2"));

    QPushButton* exit = child<QPushButton>(w, "exitButton");
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    EXPECT_EQ(w.result(), QDialog::Accepted);  // no changes: closes at once
}

}  // namespace
