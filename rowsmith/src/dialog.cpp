// The Rowsmith window (-D): runs the conversion on demand and lets the
// operator pick another data file.
#include "rowsmith/dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
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
    QMessageBox box(QMessageBox::Critical, to_q(message.caption), text, QMessageBox::Ok, this);
    size_to_caption(box);
    box.exec();
}

int caption_width(const QWidget& box) {
    QFont title_font = box.font();
    title_font.setBold(true);  // window managers draw titles bold or larger
    const QFontMetrics metrics(title_font);
    // The title bar also holds the window icon and up to three buttons.
    return metrics.horizontalAdvance(box.windowTitle()) + 6 * metrics.height();
}

// A message box sizes itself to its text; a short text under a long caption
// ("OPEN ERROR = OPEN ERROR") would leave the title cut off.
void size_to_caption(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) return;
    grid->addItem(new QSpacerItem(caption_width(box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
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
