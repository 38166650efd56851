// The Rowsmith window (-D): runs the conversion on demand and lets the
// operator pick another data file.
#include "rowsmith/dialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "platform/display.h"
#include "rowsmith/dialog_window.h"

#include <cstdio>

namespace rowsmith {

namespace {

QString to_q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

}  // namespace

RowsmithDialog::RowsmithDialog(const Paths& paths, QWidget* parent)
    : QDialog(parent),
      paths_(paths),
      choose_file_(&RowsmithDialog::ask_for_file),
      choose_folder_(&RowsmithDialog::ask_for_folder) {
    setWindowTitle("Rowsmith V1.01");
    // Which folder the files are looked for in was a rule the operator could
    // not see: it is shown, and can be changed.
    auto* folder_label = new QLabel("Folder:", this);
    folder_ = new QLineEdit(to_q(paths_.workdir), this);
    folder_->setObjectName("folder");
    folder_->setToolTip("The folder of DATA.TXT and DEVSCAN.CSV; Return takes a folder typed here");
    folder_label->setBuddy(folder_);
    browse_ = new QPushButton("BROWSE", this);
    browse_->setObjectName("browse");
    status_ = new QLabel(" ", this);
    status_->setObjectName("status");
    status_->setMinimumWidth(360);
    status_->setWordWrap(true);
    run_ = new QPushButton("RUN BUILD", this);
    exit_ = new QPushButton("EXIT", this);
    file_ = new QPushButton("FILE", this);
    run_->setObjectName("run");
    exit_->setObjectName("exit");
    file_->setObjectName("file");
    run_->setDefault(true);

    auto* folder_row = new QHBoxLayout;
    folder_row->addWidget(folder_label);
    folder_row->addWidget(folder_, 1);
    folder_row->addWidget(browse_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(run_);
    buttons->addWidget(file_);
    buttons->addStretch(1);
    buttons->addWidget(exit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(folder_row);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    connect(run_, &QPushButton::clicked, this, [this] { run_build(); });
    connect(file_, &QPushButton::clicked, this, [this] { choose_source(); });
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString chosen = choose_folder_(this, to_q(paths_.workdir));
        if (!chosen.isEmpty()) set_folder(chosen);
    });
    folder_->installEventFilter(this);
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

QString RowsmithDialog::ask_for_folder(QWidget* parent, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent, "Rowsmith Folder", folder);
}

namespace {

// A path below folder is carried over as its name; any other stays as is.
std::string moved(const std::string& path, const std::string& old_folder,
                  const std::string& new_folder) {
    if (path.compare(0, old_folder.size(), old_folder) != 0) return path;
    return resolve_in(new_folder, path.substr(old_folder.size()));
}

}  // namespace

bool RowsmithDialog::set_folder(const QString& folder) {
    const QFileInfo info(folder.trimmed());
    if (folder.trimmed().isEmpty() || !info.isDir()) {
        status_->setText(QString("Folder not found [%1]").arg(folder.trimmed()));
        folder_->setText(to_q(paths_.workdir));
        return false;
    }
    std::string dir = QDir::toNativeSeparators(info.absoluteFilePath()).toLocal8Bit().toStdString();
    if (dir.back() != '/' && dir.back() != QDir::separator().toLatin1())
        dir += QDir::separator().toLatin1();
    paths_.source = moved(paths_.source, paths_.workdir, dir);
    paths_.target = moved(paths_.target, paths_.workdir, dir);
    paths_.workdir = dir;
    folder_->setText(to_q(dir));
    if (remember_folder(dir) != 0) {
        std::fprintf(stderr, "rowsmith: the folder could not be remembered for the next start\n");
    }
    show_source_state();
    return true;
}

// Return in the folder box takes the folder typed there, and only that: it
// must not go on to the default button and run a build in a folder that
// was half typed.
bool RowsmithDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == folder_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            set_folder(folder_->text());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
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
// would leave the title cut off.
void size_to_caption(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) return;
    grid->addItem(new QSpacerItem(caption_width(box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

int run_dialog(int argc, char** argv, const Paths& paths) {
    // Without any display Qt would abort the program; say so instead.
    if (!platform::display_available()) {
        std::fprintf(stderr, "rowsmith: no display for the window (-D): %s\n",
                     platform::display_hint());
        return kUsageExit;
    }
    platform::release_own_console();
    QApplication app(argc, argv);
    RowsmithDialog dialog(paths);
    dialog.exec();
    return exit_status(dialog.last_result());
}

}  // namespace rowsmith
