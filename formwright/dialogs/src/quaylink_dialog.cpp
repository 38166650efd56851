// "Quaylink": the link to the communications server and where the terminal's
// data goes.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "formwright/dialogs.h"
#include "ip_address_edit.h"
#include "ui_quaylink.h"
#include "widgets.h"

namespace fw {

namespace {

void enable_all(QButtonGroup* group, bool on) {
    for (QAbstractButton* b : group->buttons()) b->setEnabled(on);
}

bool is_wireless_net(int link) {
    return link == kWlan || link == kGprs;
}

}  // namespace

QuaylinkDialog::QuaylinkDialog(QWidget* parent) : RecordDialog(parent), ui_(new Ui::Quaylink) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    link_ = radio_group(this, "connectRadio", 6);
    baud_ = radio_group(this, "baudRadio", kBaudCodeLast - kBaudCodeFirst + 1);
    location_ = radio_group(this, "locationRadio", 3);
    send_mode_ = radio_group(this, "sendModeRadio", 4);
    for (QLineEdit* box :
         {ui_->sendFileEdit, ui_->lanDriveEdit, ui_->lanDirEdit, ui_->phoneEdit, ui_->init1Edit,
          ui_->init2Edit, ui_->init3Edit, ui_->userEdit, ui_->passwordEdit, ui_->directoryEdit}) {
        file_text_box(box);
    }
    number_box(ui_->portEdit);

    at_open_ = settings();
    count_at_open_ = change_count();
    fill();
    apply_rules();

    connect(link_, &QButtonGroup::idClicked, this, &QuaylinkDialog::link_clicked);
    connect(location_, &QButtonGroup::idClicked, this, [this](int id) {
        fw::collect(settings().ql_local, id);
        apply_rules();
    });
    connect(send_mode_, &QButtonGroup::idClicked, this, [this](int id) {
        fw::collect(settings().ql_sendmode, id);
        apply_rules();
    });
}

QuaylinkDialog::~QuaylinkDialog() = default;

void QuaylinkDialog::fill() {
    const Settings& s = settings();
    check_id(link_, s.ql_link);
    check_id(baud_, s.ql_baud - kBaudCodeFirst);
    check_id(location_, s.ql_local);
    check_id(send_mode_, s.ql_sendmode);
    ui_->hostEdit->setText(qs(s.ftphost));
    host_shown_ = ui_->hostEdit->text();
    set_box(ui_->userEdit, s.ftpuser);
    set_box(ui_->passwordEdit, s.ftppass);
    set_box(ui_->portEdit, s.ftpport);
    set_box(ui_->directoryEdit, s.ftpcwd);
    ui_->passiveCheck->setChecked(s.ftppassive != 0);
    set_box(ui_->sendFileEdit, s.sendfile);
    set_box(ui_->lanDriveEdit, s.landrive);
    set_box(ui_->lanDirEdit, s.landir);
    set_box(ui_->phoneEdit, s.ql_phone);
    set_box(ui_->init1Edit, s.modem_init[0]);
    set_box(ui_->init2Edit, s.modem_init[1]);
    set_box(ui_->init3Edit, s.modem_init[2]);
    ui_->turnaroundCheck->setChecked(s.ql_turnaround != 0);
    ui_->flashCheck->setChecked(s.ql_flash != 0);
}

// A data bin exists only on a modem link: leaving the modem drops it.
void QuaylinkDialog::link_clicked(int id) {
    Settings& s = settings();
    fw::collect(s.ql_link, id);
    if (id != kModem && s.ql_sendmode == kDataBin) {
        fw::collect(s.ql_sendmode, static_cast<int>(kStandard));
        check_id(send_mode_, kStandard);
    }
    apply_rules();
}

void QuaylinkDialog::apply_rules() {
    const Settings& s = settings();
    const int link = s.ql_link;
    const int location = s.ql_local;
    enable_all(baud_, link == kDirect || link == kIrda);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui_->phoneLabel, ui_->phoneEdit, ui_->init1Label, ui_->init1Edit, ui_->init2Label,
             ui_->init2Edit, ui_->init3Label, ui_->init3Edit}) {
        w->setEnabled(link == kModem);
    }

    bool send_file = false, lan = false, data_bin = false, send_modes = false;
    const bool net = is_wireless_net(link);
    enable_all(location_, !net);
    if (!net) {
        if (location == kLocal) {
            data_bin = link == kModem;
            send_file = !(link == kModem && s.ql_sendmode == kDataBin);
        }
        if (location == kLan) send_file = lan = true;
        send_modes = location == kLocal || location == kLan;
    }
    for (int i = kStandard; i <= kAppend; ++i) send_mode_->button(i)->setEnabled(send_modes);
    send_mode_->button(kDataBin)->setEnabled(data_bin);
    ui_->sendFileLabel->setEnabled(send_file);
    ui_->sendFileEdit->setEnabled(send_file);
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->lanDriveLabel, ui_->lanDriveEdit,
                                                      ui_->lanDirLabel, ui_->lanDirEdit}) {
        w->setEnabled(lan);
    }
    ui_->ftpGroup->setEnabled(location == kFtp || net);
}

// The host control cannot show every stored value (a name longer than the
// terminal keeps, other characters); as long as the user leaves it alone
// the stored value stays.
std::string QuaylinkDialog::host_text() const {
    const QString shown = ui_->hostEdit->text();
    if (shown == host_shown_) return at_open_.ftphost;
    return ui_->hostEdit->isEmpty() ? std::string() : ss(shown);
}

bool QuaylinkDialog::collect() {
    Settings& s = settings();
    if (link_->checkedId() >= 0) fw::collect(s.ql_link, link_->checkedId());
    if (baud_->checkedId() >= 0) fw::collect(s.ql_baud, baud_->checkedId() + kBaudCodeFirst);
    if (location_->checkedId() >= 0) fw::collect(s.ql_local, location_->checkedId());
    if (send_mode_->checkedId() >= 0) fw::collect(s.ql_sendmode, send_mode_->checkedId());
    const bool net = is_wireless_net(s.ql_link);
    fw::collect(s.sendfile, ss(ui_->sendFileEdit->text()));
    fw::collect(s.landrive, ss(ui_->lanDriveEdit->text()));
    fw::collect(s.landir, ss(ui_->lanDirEdit->text()));
    const std::string phone = ss(ui_->phoneEdit->text());
    if (s.ql_link == kModem && phone.empty()) {
        refuse(ui_->phoneEdit, "You Must Enter A Phone Number", "MODEM");
        return false;
    }
    fw::collect(s.ql_phone, phone);
    fw::collect(s.modem_init[0], ss(ui_->init1Edit->text()));
    fw::collect(s.modem_init[1], ss(ui_->init2Edit->text()));
    fw::collect(s.modem_init[2], ss(ui_->init3Edit->text()));

    const std::string host = host_text();
    const bool host_empty = host.empty() || host == "0.0.0.0";
    if (net && host_empty) {
        refuse(ui_->hostEdit, "You Must Enter A Valid IP address", "FTP");
        return false;
    }
    fw::collect(s.ftphost, host);
    const std::string user = ss(ui_->userEdit->text());
    if (net && user.empty()) {
        refuse(ui_->userEdit, "You Must Enter A User ID", "FTP");
        return false;
    }
    fw::collect(s.ftpuser, user);
    const std::string password = ss(ui_->passwordEdit->text());
    if (net && password.empty()) {
        refuse(ui_->passwordEdit, "You Must Enter A Password", "FTP");
        return false;
    }
    fw::collect(s.ftppass, password);
    fw::collect(s.ftpport, ss(ui_->portEdit->text()));
    fw::collect(s.ftpcwd, ss(ui_->directoryEdit->text()));
    fw::collect(s.ftppassive, ui_->passiveCheck->isChecked() ? 1 : 0);
    fw::collect(s.ql_turnaround, ui_->turnaroundCheck->isChecked() ? 1 : 0);
    fw::collect(s.ql_flash, ui_->flashCheck->isChecked() ? 1 : 0);
    return true;
}

// Cancel leaves the record as it was before the dialog opened, radio
// choices included.
void QuaylinkDialog::reject() {
    settings() = at_open_;
    set_change_count(count_at_open_);
    QDialog::reject();
}

}  // namespace fw
