// The about box, and the line's details behind it.
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "foundation/line_status.h"
#include "ui_about_box.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/modal.h"

namespace ql {

namespace {

QString details_text() {
    return QString::fromStdString(line_status_details(line_status_snapshot(), wall_seconds()));
}

}  // namespace

void show_line_details(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setObjectName("LINEDETAILS");
    dialog.setWindowTitle("Line Details");
    auto* layout = new QVBoxLayout(&dialog);
    auto* text = new QPlainTextEdit(&dialog);
    text->setObjectName("details_text");
    text->setReadOnly(true);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text->setPlainText(details_text());
    text->setMinimumSize(460, 280);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    // The figures move while the line works; the box follows them while it
    // is open, and costs nothing once closed.
    QTimer refresh(&dialog);
    QObject::connect(&refresh, &QTimer::timeout, text,
                     [text] { text->setPlainText(details_text()); });
    refresh.start(1000);
    keyboard_conventions(&dialog);
    run_modal(dialog);
}

void show_about_box(QWidget* parent) {
    QDialog dialog(parent);
    Ui::AboutBox ui;
    ui.setupUi(&dialog);
    keyboard_conventions(&dialog);
    // The box holds its own copy of the picture, released with the box.
    ui.bitmap_101->setPixmap(quaylink_bitmap());
    QObject::connect(ui.details, &QPushButton::clicked, &dialog,
                     [&dialog] { show_line_details(&dialog); });
    run_modal(dialog);
}

}  // namespace ql
