// The Rowsmith window, driven offscreen.
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <filesystem>

#include <gtest/gtest.h>

#include "rowsmith/dialog_window.h"
#include "scratch.h"

// Qt's font and bus libraries keep caches until the process ends; the same
// list as tests/lsan.supp, built in so it holds however the test is started.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6\nleak:libdbus\n";
}

namespace {

using rowsmith::RowsmithDialog;
using rowsmith_test::Scratch;

// A path as the window shows and stores a folder it was given: in the
// system's own form ('\\' on Windows).
std::string native(const std::string& path) {
    return QDir::toNativeSeparators(QString::fromStdString(path)).toStdString();
}

QApplication& app() {
    static int argc = 1;
    static char name[] = "rowsmith_dialog_tests";
    static char* argv[] = {name, nullptr};
    // No display here: the window draws into memory.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

class Dialog : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        paths.workdir = site.dir();
        paths.source = site.path("DATA.TXT");
        paths.target = site.path("DEVSCAN.CSV");
    }
    void watch(RowsmithDialog& dialog) {
        dialog.set_message_sink([this](const rowsmith::Message& m) { messages.push_back(m); });
    }

    Scratch site;
    rowsmith::Paths paths;
    std::vector<rowsmith::Message> messages;
};

TEST_F(Dialog, OpensWithTitleButtonsAndMissingSourceNote) {
    RowsmithDialog dialog(paths);
    EXPECT_EQ(dialog.windowTitle(), "Rowsmith V1.01");
    EXPECT_EQ(dialog.run_button()->text(), "RUN BUILD");
    EXPECT_EQ(dialog.exit_button()->text(), "EXIT");
    EXPECT_EQ(dialog.file_button()->text(), "FILE");
    EXPECT_EQ(dialog.status_text(),
              QString::fromStdString("Source file not found [" + paths.source + "]"));

    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QRect desk = QGuiApplication::primaryScreen()->availableGeometry();
    int centre = dialog.frameGeometry().center().x();
    EXPECT_NEAR(centre, desk.center().x(), 2);
    QTest::mouseClick(dialog.exit_button(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(Dialog, RunBuildConvertsAndReportsFailuresThroughTheWindow) {
    site.write("DATA.TXT", "L1,T1\nL2,T2\n");
    RowsmithDialog dialog(paths);
    watch(dialog);
    EXPECT_EQ(dialog.status_text(), " ");

    QTest::mouseClick(dialog.run_button(), Qt::LeftButton);
    EXPECT_EQ(dialog.last_result(), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(dialog.status_text().startsWith("2 records added"));
    EXPECT_FALSE(site.exists("DATA.TXT"));
    EXPECT_EQ(site.read("DEVSCAN.CSV").substr(rowsmith::header_line().size()),
              "T1,,NEXT,,,L1,,,,,,O,N,,,,,,,,\r\nT2,,NEXT,,,L2,,,,,,O,N,,,,,,,,\r\n");

    QTest::mouseClick(dialog.run_button(), Qt::LeftButton);  // the source is gone now
    EXPECT_EQ(dialog.last_result(), rowsmith::kSourceOpenFailed);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "OPEN ERROR");
    EXPECT_TRUE(dialog.status_text().startsWith("Source file not found"));
}

TEST_F(Dialog, FileChoiceBecomesTheSourceAsAFullPath) {
    site.write("other.txt", "shelf,9\n");
    site.write("empty.txt", "");
    RowsmithDialog dialog(paths);
    watch(dialog);
    QString asked_in;
    QString answer = QString::fromStdString(site.path("sub/../other.txt"));
    std::filesystem::create_directory(site.path("sub"));
    dialog.set_file_chooser([&](QWidget* parent, const QString& folder) {
        EXPECT_EQ(parent, &dialog);
        asked_in = folder;
        return answer;
    });

    QTest::mouseClick(dialog.file_button(), Qt::LeftButton);
    EXPECT_EQ(asked_in, QString::fromStdString(site.dir()));
    EXPECT_EQ(dialog.paths().source, site.path("other.txt"));
    EXPECT_EQ(dialog.status_text(), " ");
    QTest::mouseClick(dialog.run_button(), Qt::LeftButton);
    EXPECT_EQ(dialog.last_result(), 0);
    EXPECT_NE(site.read("DEVSCAN.CSV").find("9,,NEXT,,,shelf,"), std::string::npos);

    answer = QString::fromStdString(site.path("empty.txt"));
    QTest::mouseClick(dialog.file_button(), Qt::LeftButton);
    EXPECT_TRUE(dialog.status_text().startsWith("Source file not found"));

    answer.clear();  // cancelled: nothing changes
    QTest::mouseClick(dialog.file_button(), Qt::LeftButton);
    EXPECT_EQ(dialog.paths().source, site.path("empty.txt"));
}

// The window says which folder it works in; BROWSE or a folder typed with
// Return changes it (the files given by name follow), and the choice is
// there again at the next start.
TEST_F(Dialog, FolderIsShownChosenAndRememberedForTheNextStart) {
    // The remembered folder is kept in the user's settings folder: here one
    // of the test's own (XDG_CONFIG_HOME on Linux, APPDATA on Windows).
    const std::string config = site.path("config");
    std::filesystem::create_directories(config);
    const QByteArray old_xdg = qgetenv("XDG_CONFIG_HOME"), old_appdata = qgetenv("APPDATA");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
    qputenv("APPDATA", QByteArray::fromStdString(config));
    std::filesystem::create_directories(site.path("data"));
    const std::string data = site.path("data") + "/";
    site.write("data/DATA.TXT", "dock,5\n");

    RowsmithDialog dialog(paths);
    watch(dialog);
    EXPECT_EQ(dialog.folder_box()->text(), QString::fromStdString(site.dir()));
    EXPECT_TRUE(dialog.status_text().startsWith("Source file not found"));
    dialog.set_folder_chooser([&](QWidget*, const QString& folder) {
        EXPECT_EQ(folder, QString::fromStdString(site.dir()));
        return QString::fromStdString(site.path("data"));
    });
    QTest::mouseClick(dialog.browse_button(), Qt::LeftButton);
    EXPECT_EQ(dialog.folder_box()->text(), QString::fromStdString(native(data)));
    EXPECT_EQ(dialog.paths().source, native(data + "DATA.TXT"));
    EXPECT_EQ(dialog.paths().target, native(data + "DEVSCAN.CSV"));
    EXPECT_EQ(dialog.status_text(), " ");
    QTest::mouseClick(dialog.run_button(), Qt::LeftButton);
    EXPECT_EQ(dialog.last_result(), 0);
    EXPECT_TRUE(site.exists("data/DEVSCAN.CSV"));
    EXPECT_EQ(rowsmith::window_folder(), native(data));

    // A folder typed into the box: Return takes it and runs nothing.
    dialog.folder_box()->setText(QString::fromStdString(site.path("missing")));
    QTest::keyClick(dialog.folder_box(), Qt::Key_Return);
    EXPECT_TRUE(dialog.status_text().startsWith("Folder not found"))
        << dialog.status_text().toStdString();
    EXPECT_EQ(dialog.paths().workdir, native(data));
    dialog.folder_box()->setText(QString::fromStdString(site.dir()));
    QTest::keyClick(dialog.folder_box(), Qt::Key_Return);
    EXPECT_EQ(dialog.paths().source, native(site.path("DATA.TXT")));
    EXPECT_EQ(dialog.last_result(), 0);  // no build ran
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(rowsmith::window_folder(), native(site.dir()));
    // Put back as they were (an empty value counts as unset for both).
    qputenv("XDG_CONFIG_HOME", old_xdg);
    qputenv("APPDATA", old_appdata);
}

// The open error's caption used to be cut ("OPEN ERR... N ERROR").
TEST_F(Dialog, ErrorBoxIsWideEnoughForItsCaption) {
    QMessageBox box(QMessageBox::Critical, "OPEN ERROR = OPEN ERROR", "RC = 2", QMessageBox::Ok);
    rowsmith::size_to_caption(box);
    box.show();
    QApplication::processEvents();
    QFont bold = box.font();
    bold.setBold(true);
    EXPECT_GE(box.width(), QFontMetrics(bold).horizontalAdvance("OPEN ERROR = OPEN ERROR") +
                               3 * QFontMetrics(bold).height());
    EXPECT_GE(box.width(), rowsmith::caption_width(box));
}

}  // namespace
