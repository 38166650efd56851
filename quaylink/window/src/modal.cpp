// Modal dialogs, with the hook that lets tests drive them.
#include "window/modal.h"

#include <QMessageBox>
#include <QPushButton>
#include <mutex>

namespace ql {

namespace {

ModalHook& hook() {
    static ModalHook h;
    return h;
}

QMessageBox::StandardButtons standard_buttons(Buttons buttons) {
    switch (buttons) {
        case Buttons::kOkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::kYesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case Buttons::kYesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case Buttons::kOk:
            break;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon message_icon(Icon icon) {
    switch (icon) {
        case Icon::kInformation:
            return QMessageBox::Information;
        case Icon::kWarning:
            return QMessageBox::Warning;
        case Icon::kError:
            return QMessageBox::Critical;
        case Icon::kQuestion:
            return QMessageBox::Question;
        case Icon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

// A box closed without a button (Esc, window close) answers like its
// cancelling button would.
int to_answer(int result, Buttons buttons) {
    switch (result) {
        case QMessageBox::Ok:
            return answer::kOk;
        case QMessageBox::Cancel:
            return answer::kCancel;
        case QMessageBox::Yes:
            return answer::kYes;
        case QMessageBox::No:
            return answer::kNo;
        default:
            break;
    }
    if (buttons == Buttons::kOk) return answer::kOk;
    return buttons == Buttons::kYesNo ? answer::kNo : answer::kCancel;
}

}  // namespace

void set_modal_hook(ModalHook h) {
    hook() = std::move(h);
}

int run_modal(QDialog& dialog) {
    if (!hook()) return dialog.exec();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    hook()(dialog);
    if (dialog.isVisible()) dialog.hide();
    return dialog.result();
}

int show_message_box(QWidget* parent, const std::string& text, const std::string& caption,
                     Buttons buttons, Icon icon) {
    QMessageBox box(parent);
    box.setObjectName("messageBox");
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text).replace("\r\n", "\n"));
    box.setIcon(message_icon(icon));
    box.setStandardButtons(standard_buttons(buttons));
    for (QAbstractButton* b : box.buttons()) {
        b->setObjectName(QString("button") + b->text().remove('&'));
    }
    return to_answer(run_modal(box), buttons);
}

}  // namespace ql
