// Modal dialogs, with the hook that lets tests drive them.
#include "window/modal.h"

#include <QEventLoop>
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

// Qt's line breaking may cut after a "/" or a "-", which tore
// "(/dev/ttyUSB0)" into two lines. A word joiner between the characters of
// every word that holds a path separator keeps such a word on one line.
QString paths_unbroken(const QString& text) {
    QString out;
    out.reserve(text.size() * 2);
    qsizetype word_at = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text[i].isSpace()) continue;
        const QString word = text.mid(word_at, i - word_at);
        if (word.contains('/') || word.contains('\\')) {
            for (qsizetype k = 0; k < word.size(); ++k) {
                if (k > 0) out += QChar(0x2060);
                out += word[k];
            }
        } else {
            out += word;
        }
        if (i < text.size()) out += text[i];
        word_at = i + 1;
    }
    return out;
}

void fill_box(QMessageBox& box, const std::string& text, const std::string& caption,
              Buttons buttons, Icon icon) {
    box.setObjectName("messageBox");
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(paths_unbroken(QString::fromStdString(text).replace("\r\n", "\n")));
    box.setIcon(message_icon(icon));
    box.setStandardButtons(standard_buttons(buttons));
    for (QAbstractButton* b : box.buttons()) {
        b->setObjectName(QString("button") + b->text().remove('&'));
    }
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

int run_modeless(QDialog& dialog) {
    if (hook()) return run_modal(dialog);
    dialog.setWindowModality(Qt::NonModal);
    dialog.setResult(QDialog::Rejected);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec();
    return dialog.result();
}

int show_message_box(QWidget* parent, const std::string& text, const std::string& caption,
                     Buttons buttons, Icon icon) {
    QMessageBox box(parent);
    fill_box(box, text, caption, buttons, icon);
    return to_answer(run_modal(box), buttons);
}

int show_modeless_message_box(QWidget* parent, const std::string& text, const std::string& caption,
                              Buttons buttons, Icon icon,
                              const std::function<void(QDialog*)>& opened) {
    QMessageBox box(parent);
    fill_box(box, text, caption, buttons, icon);
    if (opened) opened(&box);
    const int result = run_modeless(box);
    if (opened) opened(nullptr);
    return to_answer(result, buttons);
}

}  // namespace ql
