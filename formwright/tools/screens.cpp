// Renders the main window and every dialog to PNG files, for the manual.
// Usage: QT_QPA_PLATFORM=offscreen formwright_screens <output folder>
// The pictures show the defaults of a folder without a settings file.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>

#include "formwright/dialogs.h"

namespace {

bool save(QWidget& widget, const QString& folder, const char* name) {
    widget.adjustSize();
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(QString("formwright-%1.png").arg(name));
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toLocal8Bit().constData());
    widget.hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir empty;
    fw::MainDialog main_window(empty.path().toStdString());
    fw::settings().header = {"ITEM", "LOCATION", "BIN"};

    bool ok = save(main_window, folder, "main");
    fw::ScanConfigDialog scan(&main_window);
    ok = save(scan, folder, "scan-config") && ok;
    fw::AcousticDialog acoustic(&main_window);
    ok = save(acoustic, folder, "acoustic") && ok;
    fw::BurstDialog burst(&main_window);
    ok = save(burst, folder, "burst") && ok;
    fw::QuickBooksDialog quick_books(&main_window);
    ok = save(quick_books, folder, "quick-books") && ok;
    fw::PtapDialog ptap(&main_window);
    ok = save(ptap, folder, "ptap-dialup") && ok;
    fw::QuaylinkDialog quaylink(&main_window);
    ok = save(quaylink, folder, "quaylink") && ok;
    fw::ConfigFieldsDialog fields({true, true, false}, &main_window);
    ok = save(fields, folder, "config-fields") && ok;
    return ok ? 0 : 1;
}
