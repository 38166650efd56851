// The cradle question of the first-run set-up.
#include <QCheckBox>

#include "serial/discovery.h"
#include "ui_cradle_check.h"
#include "window/dialogs.h"
#include "window/modal.h"

namespace ql {

int ask_cradle_question(QWidget* parent) {
    QDialog dialog(parent);
    Ui::CradleCheckDialog ui;
    ui.setupUi(&dialog);
    keyboard_conventions(&dialog);
    ui.searchForCradle_450->setChecked(cradle_search_request());
    if (run_modal(dialog) != QDialog::Accepted) return 0;
    set_cradle_search_request(ui.searchForCradle_450->isChecked());
    return 1;
}

}  // namespace ql
