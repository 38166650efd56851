// The main window: labels, switches, communication mode, and the way out.
#include <QButtonGroup>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "formwright/dialogs.h"
#include "ui_main.h"
#include "widgets.h"

namespace fw {

namespace {

constexpr int kTopGap = 10;

int checked(const QCheckBox* box) {
    return box->isChecked() ? 1 : 0;
}

}  // namespace

MainDialog::MainDialog(const std::string& working_directory, QWidget* parent)
    : QDialog(parent), ui_(new Ui::Main) {
    ui_->setupUi(this);
    fit_boxes(this);
    link_ = radio_group(this, "linkRadio", 3);
    lookup_ = radio_group(this, "lookupRadio", 4);
    backlight_ = radio_group(this, "backlightRadio", 3);
    comm_ = radio_group(this, "commRadio", 5);
    for (QLineEdit* box : {ui_->bannerEdit, ui_->field1Edit, ui_->field2Edit, ui_->field3Edit}) {
        file_text_box(box);
    }
    install_save_error_message();

    set_change_count(0);
    settings_set_directory(working_directory);
    settings_load();
    fill();
    place();

    connect(comm_, &QButtonGroup::idClicked, this, &MainDialog::comm_clicked);
    connect(ui_->communicationsButton, &QPushButton::clicked, this,
            [this] { open_mode_dialog(settings().connect); });
    connect(ui_->scannerButton, &QPushButton::clicked, this, [this] {
        ScanConfigDialog dialog(this);
        run_dialog(dialog);
    });
    connect(ui_->advancedFieldButton, &QPushButton::clicked, this, &MainDialog::open_fields);
    connect(ui_->exitButton, &QPushButton::clicked, this, &MainDialog::exit_clicked);
    keyboard_conventions(this);
}

MainDialog::~MainDialog() = default;

// Centred across the desktop, just below its top edge.
void MainDialog::place() {
    adjustSize();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect desk = screen->availableGeometry();
    move(desk.x() + (desk.width() - frameGeometry().width()) / 2, desk.y() + kTopGap);
}

void MainDialog::fill() {
    const Settings& s = settings();
    set_box(ui_->bannerEdit, s.banner);
    set_box(ui_->field1Edit, s.header[0]);
    set_box(ui_->field2Edit, s.header[1]);
    set_box(ui_->field3Edit, s.header[2]);
    ui_->duplicateCheck->setChecked(s.sorted != 0);
    ui_->qtyCheck->setChecked(s.useqty != 0);
    ui_->appendHeaderCheck->setChecked(s.header_type != 0);
    ui_->timeStampCheck->setChecked(s.timestamp != 0);
    check_id(link_, s.locflag);
    check_id(lookup_, s.lookup);
    check_id(backlight_, s.backlight);
    check_id(comm_, s.connect);
    ui_->statusLabel->setText(QString("File: %1").arg(qs(settings_path())));
}

void MainDialog::collect() {
    Settings& s = settings();
    fw::collect(s.banner, ss(ui_->bannerEdit->text()));
    fw::collect(s.header[0], ss(ui_->field1Edit->text()));
    fw::collect(s.header[1], ss(ui_->field2Edit->text()));
    fw::collect(s.header[2], ss(ui_->field3Edit->text()));
    fw::collect(s.sorted, checked(ui_->duplicateCheck));
    fw::collect(s.useqty, checked(ui_->qtyCheck));
    fw::collect(s.header_type, checked(ui_->appendHeaderCheck));
    fw::collect(s.timestamp, checked(ui_->timeStampCheck));
    if (link_->checkedId() >= 0) fw::collect(s.locflag, link_->checkedId());
    if (lookup_->checkedId() >= 0) fw::collect(s.lookup, lookup_->checkedId());
    if (backlight_->checkedId() >= 0) fw::collect(s.backlight, backlight_->checkedId());
}

// A new mode takes effect at once and its dialog opens; cancelling that
// dialog keeps the new mode.
void MainDialog::comm_clicked(int id) {
    if (!fw::collect(settings().connect, id)) return;
    open_mode_dialog(id);
}

void MainDialog::open_mode_dialog(int mode) {
    std::unique_ptr<QDialog> dialog;
    switch (mode) {
        case kAcoustic:
            dialog = std::make_unique<AcousticDialog>(this);
            break;
        case kBurst:
            dialog = std::make_unique<BurstDialog>(this);
            break;
        case kQuickBooks:
            dialog = std::make_unique<QuickBooksDialog>(this);
            break;
        case kPtap:
            dialog = std::make_unique<PtapDialog>(this);
            break;
        case kQuaylink:
            dialog = std::make_unique<QuaylinkDialog>(this);
            break;
        default:
            return;
    }
    run_dialog(*dialog);
}

// The fields that have a label now may be configured.
void MainDialog::open_fields() {
    const std::array<bool, 3> present = {!ui_->field1Edit->text().isEmpty(),
                                         !ui_->field2Edit->text().isEmpty(),
                                         !ui_->field3Edit->text().isEmpty()};
    ConfigFieldsDialog dialog(present, this);
    run_dialog(dialog);
}

void MainDialog::exit_clicked() {
    collect();
    const Settings& s = settings();
    if (s.locflag != 0 && s.header[2].empty()) {
        warn(this, "Field 3 Must Have Data \r\nTo Use Link Item", "FIELD 3",
             QMessageBox::Ok | QMessageBox::Cancel);
        ui_->field3Edit->setFocus();
        return;
    }
    if (change_count() <= 0) {
        accept();
        return;
    }
    const auto answer = warn(this, "Save Changes?", "EXIT",
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::No) {
        accept();
    } else if (answer == QMessageBox::Yes) {
        // A failed save has shown its message; staying open lets the user
        // try again instead of losing the edits.
        if (settings_save() == 0) accept();
    }
}

// Escape would close like the close box and lose every edit at one key.
void MainDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace fw
