// The Rowsmith window (-D): runs the conversion on demand and lets the
// operator pick another data file.
#include "rowsmith/dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "rowsmith/dialog_window.h"

#include <cstdio>

namespace rowsmith {

namespace {

QString to_q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

}  // namespace

RowsmithDialog::RowsmithDialog(const Paths& paths, QWidget* parent)
    : QDialog(parent), paths_(paths), choose_file_(&RowsmithDialog::ask_for_file) {
    setWindowTitle("Rowsmith V1.01");
    status_ = new QLabel(" ", this);
    status_->setObjectName("status");
    status_->setMinimumWidth(360);
    status_->setWordWrap(true);
    run_ = new QPushButton("RUN BUILD", this);
    exit_ = new QPushButton("EXIT", this);
    file_ = new QPushButton("FILE", this);
    run_->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(run_);
    buttons->addWidget(file_);
    buttons->addStretch(1);
    buttons->addWidget(exit_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    connect(run_, &QPushButton::clicked, this, [this] { run_build(); });
    connect(file_, &QPushButton::clicked, this, [this] { choose_source(); });
    connect(exit_, &QPushButton::clicked, this, &QDialog::accept);
    show_ = [this](const Message& message) { show_message(message); };
    if (file_length(paths_.source) == 0)
        status_->setText(QString("Source file not found [%1]").arg(to_q(paths_.source)));
}

QString RowsmithDialog::status_text() const {
    return status_->text();
}

QString RowsmithDialog::ask_for_file(QWidget* parent, const QString& folder) {
    return QFileDialog::getOpenFileName(parent, "Open Inventory", folder,
                                        "Xmit (*.TXT *.txt);;All (*)");
}

void RowsmithDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred_) return;
    centred_ = true;
    // Centre across the desktop, leaving the height where the system put it.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect desk = screen->availableGeometry();
        move(desk.x() + (desk.width() - frameGeometry().width()) / 2, y());
    }
}

void RowsmithDialog::run_build() {
    ConvertSettings settings;
    settings.show = [this](const Message& message) {
        if (show_) show_(message);
    };
    ConvertOutcome outcome = convert(paths_.source, paths_.target, settings);
    last_result_ = outcome.result;
    if (outcome.result == kSourceOpenFailed && file_length(paths_.source) == 0) {
        show_source_state();
    } else if (outcome.result != kConverted) {
        status_->setText(QString("Build failed, RC = %1").arg(outcome.result));
    } else if (outcome.lines == 0) {
        status_->setText(QString("No complete lines in [%1]").arg(to_q(paths_.source)));
    } else {
        status_->setText(QString("%1 records added to [%2]")
                             .arg(static_cast<qlonglong>(outcome.lines))
                             .arg(to_q(paths_.target)));
    }
}

void RowsmithDialog::choose_source() {
    QString chosen = choose_file_(this, to_q(paths_.workdir));
    if (chosen.isEmpty()) return;
    paths_.source = QFileInfo(chosen).absoluteFilePath().toLocal8Bit().toStdString();
    show_source_state();
}

void RowsmithDialog::show_source_state() {
    if (file_length(paths_.source) > 0)
        status_->setText(" ");
    else
        status_->setText(QString("Source file not found [%1]").arg(to_q(paths_.source)));
}

void RowsmithDialog::show_message(const Message& message) {
    QString text = to_q(message.text);
    text.replace("\r\n", "\n");
    QMessageBox::critical(this, to_q(message.caption), text);
}

int run_dialog(int argc, char** argv, const Paths& paths) {
    // Without any display Qt would abort the program; say so instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("rowsmith: no display for the window (-D); set DISPLAY or QT_QPA_PLATFORM\n",
                   stderr);
        return kUsageExit;
    }
    QApplication app(argc, argv);
    RowsmithDialog dialog(paths);
    dialog.exec();
    return exit_status(dialog.last_result());
}

}  // namespace rowsmith
