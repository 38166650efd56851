// The dialogs of the acoustic, burst, QuickBooks and dial-up modes, and the
// scanner dialog.
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>

#include "formwright/dialogs.h"
#include "ui_acoustic.h"
#include "ui_burst.h"
#include "ui_labels.h"
#include "ui_ptap.h"
#include "ui_quickbooks.h"
#include "widgets.h"

namespace fw {

namespace {

constexpr int kBaudChoices = kBaudCodeLast - kBaudCodeFirst + 1;

}  // namespace

ScanConfigDialog::ScanConfigDialog(QWidget* parent) : RecordDialog(parent), ui_(new Ui::Labels) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    for (int i = 0; i < kScanLabelFlags; ++i) {
        boxes_[i] = findChild<QCheckBox*>(QString("labelCheck%1").arg(i));
    }
    msi_drop_ = radio_group(this, "msiDropRadio", 3);
    msi_check_ = radio_group(this, "msiCheckRadio", 4);

    const ScannerChoice choice = scanner_decode(settings().scanner);
    for (int i = 0; i < kScanLabelFlags; ++i) boxes_[i]->setChecked(choice.label[i]);
    check_id(msi_drop_, choice.msi_drop);
    check_id(msi_check_, choice.msi_check);
}

ScanConfigDialog::~ScanConfigDialog() = default;

bool ScanConfigDialog::collect() {
    ScannerChoice choice;
    for (int i = 0; i < kScanLabelFlags; ++i) choice.label[i] = boxes_[i]->isChecked();
    choice.msi_drop = msi_drop_->checkedId() < 0 ? 0 : msi_drop_->checkedId();
    choice.msi_check = msi_check_->checkedId() < 0 ? 0 : msi_check_->checkedId();
    fw::collect(settings().scanner, scanner_encode(settings().scanner, choice));
    return true;
}

AcousticDialog::AcousticDialog(QWidget* parent) : RecordDialog(parent), ui_(new Ui::Acoustic) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    volume_ = radio_group(this, "volumeRadio", 3);
    parity_ = radio_group(this, "parityRadio", 3);
    file_text_box(ui_->phoneEdit);

    const Settings& s = settings();
    set_box(ui_->phoneEdit, s.acoustic_phone);
    check_id(volume_, s.volume);
    ui_->stxEtxCheck->setChecked(s.stxetx != 0);
    check_id(parity_, s.parity);
}

AcousticDialog::~AcousticDialog() = default;

bool AcousticDialog::collect() {
    Settings& s = settings();
    fw::collect(s.acoustic_phone, ss(ui_->phoneEdit->text()));
    if (volume_->checkedId() >= 0) fw::collect(s.volume, volume_->checkedId());
    fw::collect(s.stxetx, ui_->stxEtxCheck->isChecked() ? 1 : 0);
    if (parity_->checkedId() >= 0) fw::collect(s.parity, parity_->checkedId());
    return true;
}

BurstDialog::BurstDialog(QWidget* parent) : RecordDialog(parent), ui_(new Ui::Burst) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    baud_ = radio_group(this, "baudRadio", kBaudChoices);

    const Settings& s = settings();
    check_id(baud_, s.burst_baud - kBaudCodeFirst);
    ui_->stxEtxCheck->setChecked(s.stxetx != 0);
    ui_->directConnectCheck->setChecked(s.irda == 0);
}

BurstDialog::~BurstDialog() = default;

bool BurstDialog::collect() {
    Settings& s = settings();
    if (baud_->checkedId() >= 0) fw::collect(s.burst_baud, baud_->checkedId() + kBaudCodeFirst);
    fw::collect(s.stxetx, ui_->stxEtxCheck->isChecked() ? 1 : 0);
    fw::collect(s.irda, ui_->directConnectCheck->isChecked() ? 0 : 1);
    return true;
}

QuickBooksDialog::QuickBooksDialog(QWidget* parent)
    : RecordDialog(parent), ui_(new Ui::QuickBooks) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    baud_ = radio_group(this, "baudRadio", kBaudChoices);

    const Settings& s = settings();
    check_id(baud_, s.quikbook_baud - kBaudCodeFirst);
    ui_->directConnectCheck->setChecked(s.irda == 0);
}

QuickBooksDialog::~QuickBooksDialog() = default;

// The QuickBooks labels are Interleaved 2 of 5, so the scanner must read it.
bool QuickBooksDialog::collect() {
    Settings& s = settings();
    if (baud_->checkedId() >= 0) fw::collect(s.quikbook_baud, baud_->checkedId() + kBaudCodeFirst);
    fw::collect(s.irda, ui_->directConnectCheck->isChecked() ? 0 : 1);
    fw::collect(s.scanner, scanner_flag_on(s.scanner, kInterleaved25Pos));
    return true;
}

PtapDialog::PtapDialog(QWidget* parent) : RecordDialog(parent), ui_(new Ui::PTAP) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    file_text_box(ui_->phoneEdit);

    const Settings& s = settings();
    set_box(ui_->phoneEdit, s.ptap_phone);
    ui_->turnaroundCheck->setChecked(s.ptap_turnaround != 0);
    ui_->flashCheck->setChecked(s.ptap_flash != 0);
}

PtapDialog::~PtapDialog() = default;

bool PtapDialog::collect() {
    Settings& s = settings();
    const std::string phone = ss(ui_->phoneEdit->text());
    if (phone.empty()) {
        refuse(ui_->phoneEdit, "You Must Enter A Phone Number", "MODEM");
        return false;
    }
    fw::collect(s.ptap_phone, phone);
    fw::collect(s.ptap_turnaround, ui_->turnaroundCheck->isChecked() ? 1 : 0);
    fw::collect(s.ptap_flash, ui_->flashCheck->isChecked() ? 1 : 0);
    return true;
}

}  // namespace fw
