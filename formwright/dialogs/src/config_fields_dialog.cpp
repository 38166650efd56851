// "Config Fields": entry rules of the three data fields and the item.
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "formwright/dialogs.h"
#include "ui_acceptfields.h"
#include "widgets.h"

namespace fw {

namespace {

constexpr int kItem = 3;
constexpr int kLengthLimit = 16;
constexpr int kFieldMaxLimit = 12;

// Validation values in the order of the radios.
constexpr std::array<int, 5> kValidationByRadio = {kValidOff, kMod10Dad, kMod10Tat, kValidDate,
                                                   kValidTime};

int radio_of_validation(int validation) {
    for (size_t i = 0; i < kValidationByRadio.size(); ++i) {
        if (kValidationByRadio[i] == validation) return static_cast<int>(i);
    }
    return -1;
}

QString number_text(int n) {
    return n == 0 ? QString() : QString::number(n);
}

}  // namespace

ConfigFieldsDialog::ConfigFieldsDialog(const std::array<bool, 3>& present, QWidget* parent)
    : RecordDialog(parent), ui_(new Ui::AcceptFields) {
    ui_->setupUi(this);
    fit_boxes(this);
    wire_buttons(ui_->okButton, ui_->cancelButton);
    bind(0, "field1", 5);
    bind(1, "field2", 5);
    bind(2, "field3", 5);
    bind(kItem, "item", 3);
    groups_[kItem].max_limit = kLengthLimit;

    count_at_open_ = change_count();
    for (int i = 0; i < 4; ++i) {
        records_[i] = field_options_parse(settings().field[i]);
        groups_[i].enabled = i == kItem || present[i];
        groups_[i].box->setEnabled(groups_[i].enabled);
        show_record(i);
    }
}

ConfigFieldsDialog::~ConfigFieldsDialog() = default;

void ConfigFieldsDialog::bind(int index, const QString& prefix, int radios) {
    Group& g = groups_[index];
    g.box = findChild<QGroupBox*>(prefix + "Group");
    g.right_to_left = findChild<QCheckBox*>(prefix + "RightToLeft");
    g.scan_off = findChild<QCheckBox*>(prefix + "ScanOff");
    g.min = findChild<QLineEdit*>(prefix + "Min");
    g.max = findChild<QLineEdit*>(prefix + "Max");
    g.scan_len = findChild<QLineEdit*>(prefix + "ScanLen");
    g.scan_len_label = findChild<QLabel*>(prefix + "ScanLenLabel");
    g.mask = findChild<QLineEdit*>(prefix + "Mask");
    g.validation = radio_group(this, prefix + "Valid", radios);
    for (QLineEdit* box : {g.min, g.max, g.scan_len}) number_box(box);
    // The mask goes inside a comma-separated option list without blanks.
    if (g.mask != nullptr) {
        g.mask->setValidator(
            new QRegularExpressionValidator(QRegularExpression("[^;, \\t]*"), g.mask));
    }
    connect(g.scan_off, &QCheckBox::clicked, this,
            [this, index](bool on) { scan_off_clicked(index, on); });
}

void ConfigFieldsDialog::show_record(int index) {
    Group& g = groups_[index];
    const FieldOptions& r = records_[index];
    g.right_to_left->setChecked(r.right_to_left);
    g.scan_off->setChecked(r.scan_off);
    g.min->setText(number_text(r.accept_min));
    g.max->setText(number_text(r.accept_max));
    g.scan_len->setText(number_text(r.scan_length));
    if (g.mask != nullptr) set_box(g.mask, r.mask);
    check_id(g.validation, radio_of_validation(r.validation));
    g.scan_len->setEnabled(!r.scan_off);
    g.scan_len_label->setEnabled(!r.scan_off);
}

void ConfigFieldsDialog::scan_off_clicked(int index, bool on) {
    Group& g = groups_[index];
    fw::collect(records_[index].scan_off, on);
    if (on) {
        records_[index].scan_length = 0;
        g.scan_len->clear();
    }
    g.scan_len->setEnabled(!on);
    g.scan_len_label->setEnabled(!on);
}

bool ConfigFieldsDialog::collect_group(int index) {
    Group& g = groups_[index];
    FieldOptions& r = records_[index];
    fw::collect(r.right_to_left, g.right_to_left->isChecked());
    const int min = box_number(g.min);
    if (min > kLengthLimit) {
        refuse(g.min, "Maximum length is 16", "MINIMUM");
        return false;
    }
    fw::collect(r.accept_min, min);
    const int max = box_number(g.max);
    if (max > g.max_limit) {
        refuse(g.max, index == kItem ? "Maximum length is 16" : "Maximum length is 12", "MAXIMUM");
        return false;
    }
    if (max < min) {
        refuse(g.max, "Maximum Can't Be Less the Minimum", "MAXIMUM");
        return false;
    }
    fw::collect(r.accept_max, max);
    const int scan_length = box_number(g.scan_len);
    if (scan_length > kLengthLimit) {
        refuse(g.scan_len, "Maximum length is 16", "SCAN LENGTH");
        return false;
    }
    fw::collect(r.scan_length, scan_length);
    if (g.mask != nullptr) fw::collect(r.mask, ss(g.mask->text()));
    const int radio = g.validation->checkedId();
    if (radio >= 0) fw::collect(r.validation, kValidationByRadio[radio]);
    return true;
}

// Each field formats with the text of its own Scan Len box.
bool ConfigFieldsDialog::collect() {
    for (int i = 0; i < 4; ++i) {
        if (groups_[i].enabled && !collect_group(i)) return false;
    }
    if (change_count() == count_at_open_) return true;
    for (int i = 0; i < 4; ++i) {
        if (!groups_[i].enabled) continue;
        settings().field[i] = field_options_format(records_[i], ss(groups_[i].scan_len->text()));
    }
    return true;
}

// Nothing reached the option strings, so the edits made here do not count.
void ConfigFieldsDialog::reject() {
    set_change_count(count_at_open_);
    QDialog::reject();
}

}  // namespace fw
