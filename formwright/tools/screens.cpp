// Renders the main window and every dialog to PNG files, for the manual.
// Usage: QT_QPA_PLATFORM=offscreen formwright_screens <output folder>
// The pictures show a small sample settings file in a temporary folder.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>

#include "formwright/dialogs.h"

namespace {

const char kSample[] =
    "[setup]\r\nBANNER=WAREHOUSE 2\r\nHEADER1=LOCATION\r\nHEADER2=LOT\r\nHEADER3=BIN\r\n"
    "LOCFLAG=1\r\nCONNECT=4\r\n"
    "[acoustic setup]\r\nPHONE=5550100\r\n[ptap setup]\r\nPHONE=5550199\r\n"
    "[ql setup]\r\nQUAYLINK=4\r\nLOCAL=2\r\nFTPHOST=192.168.10.20\r\nFTPUSER=scanner\r\n"
    "FTPPASS=secret\r\nFTPCWD=/inbound\r\nFTPPASSIVE=1\r\n"
    "[field definitions]\r\nfield1=-m4,-M10,-XNNNN,-V2\r\nfield2=-s,-M8\r\nfield4=-R,-M16\r\n";

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
    QTemporaryDir work;
    QFile sample(work.filePath("orderini"));
    if (!sample.open(QIODevice::WriteOnly) || sample.write(kSample) < 0) return 1;
    sample.close();
    fw::MainDialog main_window(work.path().toStdString());

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
    fw::ConfigFieldsDialog fields({true, true, true}, &main_window);
    ok = save(fields, folder, "config-fields") && ok;
    return ok ? 0 : 1;
}
