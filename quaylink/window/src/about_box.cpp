// The about box.
#include "ui_about_box.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/modal.h"

namespace ql {

void show_about_box(QWidget* parent) {
    QDialog dialog(parent);
    Ui::AboutBox ui;
    ui.setupUi(&dialog);
    keyboard_conventions(&dialog);
    // The box holds its own copy of the picture, released with the box.
    ui.bitmap_101->setPixmap(quaylink_bitmap());
    run_modal(dialog);
}

}  // namespace ql
