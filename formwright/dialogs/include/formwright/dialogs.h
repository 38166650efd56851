// The configurator's windows: the main window and the dialogs that edit the
// settings record (formwright/settings.h).
//
// Every control has an objectName, so tests and tools can find them. Message
// boxes and sub-dialogs go through replaceable functions (set_message_function,
// set_dialog_runner), so a test can answer them without a modal loop.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "formwright/settings.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace Ui {
class Main;
class Labels;
class Acoustic;
class Burst;
class QuickBooks;
class PTAP;
class Quaylink;
class AcceptFields;
}  // namespace Ui

namespace fw {

// Shows a message box with the warning icon and returns the button chosen.
// text may hold "\r\n" line breaks.
using MessageFunction = std::function<QMessageBox::StandardButton(
    QWidget* parent, const QString& text, const QString& caption,
    QMessageBox::StandardButtons buttons)>;

// Replaces the message box; nullptr restores the real one.
void set_message_function(MessageFunction fn);

// Shows a warning message through the current message function.
QMessageBox::StandardButton warn(QWidget* parent, const QString& text, const QString& caption,
                                 QMessageBox::StandardButtons buttons);

// Runs a sub-dialog modally and returns its result; replaceable for tests
// (nullptr restores QDialog::exec).
using DialogRunner = std::function<int(QDialog& dialog)>;
void set_dialog_runner(DialogRunner runner);
int run_dialog(QDialog& dialog);

// Routes save failures of settings_save to the message box.
void install_save_error_message();

// A dialog that edits the record: OK collects (and may refuse, keeping the
// dialog open with the focus on the offending box), Cancel closes.
class RecordDialog : public QDialog {
    Q_OBJECT
  public:
    using QDialog::QDialog;
    void accept() override;

  protected:
    // Moves the controls' values into the record, counting changes. Returns
    // false after showing a refusal.
    virtual bool collect() = 0;
    // Shows a validation message (OK and Cancel both return) and focuses box.
    void refuse(QWidget* box, const char* text, const char* caption);
    void wire_buttons(QAbstractButton* ok, QAbstractButton* cancel);
};

// "Scan Config": the SCANNER flags.
class ScanConfigDialog : public RecordDialog {
    Q_OBJECT
  public:
    explicit ScanConfigDialog(QWidget* parent = nullptr);
    ~ScanConfigDialog() override;

  protected:
    bool collect() override;

  private:
    std::unique_ptr<Ui::Labels> ui_;
    std::array<QCheckBox*, kScanLabelFlags> boxes_{};
    QButtonGroup* msi_drop_;
    QButtonGroup* msi_check_;
};

// "Acoustic": the acoustic coupler mode.
class AcousticDialog : public RecordDialog {
    Q_OBJECT
  public:
    explicit AcousticDialog(QWidget* parent = nullptr);
    ~AcousticDialog() override;

  protected:
    bool collect() override;

  private:
    std::unique_ptr<Ui::Acoustic> ui_;
    QButtonGroup* volume_;
    QButtonGroup* parity_;
};

// "Burst": the burst mode.
class BurstDialog : public RecordDialog {
    Q_OBJECT
  public:
    explicit BurstDialog(QWidget* parent = nullptr);
    ~BurstDialog() override;

  protected:
    bool collect() override;

  private:
    std::unique_ptr<Ui::Burst> ui_;
    QButtonGroup* baud_;
};

// "Quick Books": the QuickBooks / IR read mode.
class QuickBooksDialog : public RecordDialog {
    Q_OBJECT
  public:
    explicit QuickBooksDialog(QWidget* parent = nullptr);
    ~QuickBooksDialog() override;

  protected:
    bool collect() override;

  private:
    std::unique_ptr<Ui::QuickBooks> ui_;
    QButtonGroup* baud_;
};

// "PTAP Dialup": the dial-up mode.
class PtapDialog : public RecordDialog {
    Q_OBJECT
  public:
    explicit PtapDialog(QWidget* parent = nullptr);
    ~PtapDialog() override;

  protected:
    bool collect() override;

  private:
    std::unique_ptr<Ui::PTAP> ui_;
};

// "Quaylink": link, package location, send mode, FTP and modem parameters.
// Radio choices apply at once; Cancel restores the record and the change
// count as they were at opening.
class QuaylinkDialog : public RecordDialog {
    Q_OBJECT
  public:
    explicit QuaylinkDialog(QWidget* parent = nullptr);
    ~QuaylinkDialog() override;
    void reject() override;

  protected:
    bool collect() override;

  private:
    void fill();
    void apply_rules();
    void link_clicked(int id);
    std::string host_text() const;

    std::unique_ptr<Ui::Quaylink> ui_;
    QButtonGroup* link_;
    QButtonGroup* baud_;
    QButtonGroup* location_;
    QButtonGroup* send_mode_;
    Settings at_open_;
    int count_at_open_ = 0;
    QString host_shown_;  // what the address control showed after filling
};

// "Config Fields": the four field option strings. present says which of
// Field1..Field3 have a label (the item is always editable).
class ConfigFieldsDialog : public RecordDialog {
    Q_OBJECT
  public:
    ConfigFieldsDialog(const std::array<bool, 3>& present, QWidget* parent = nullptr);
    ~ConfigFieldsDialog() override;
    void reject() override;

  protected:
    bool collect() override;

  private:
    struct Group {
        QGroupBox* box = nullptr;
        QCheckBox* right_to_left = nullptr;
        QCheckBox* scan_off = nullptr;
        QLineEdit* min = nullptr;
        QLineEdit* max = nullptr;
        QLineEdit* scan_len = nullptr;
        QLabel* scan_len_label = nullptr;
        QLineEdit* mask = nullptr;  // none for the item
        QButtonGroup* validation = nullptr;
        bool enabled = false;
        int max_limit = 12;
    };
    void bind(int index, const QString& prefix, int radios);
    void show_record(int index);
    void scan_off_clicked(int index, bool on);
    bool collect_group(int index);

    std::unique_ptr<Ui::AcceptFields> ui_;
    std::array<Group, 4> groups_;
    std::array<FieldOptions, 4> records_;
    int count_at_open_ = 0;
};

// The main window "Formwright Setup V2.02". Loads the settings file of
// working_directory on construction; EXIT validates and offers to save, the
// close box closes without saving.
class MainDialog : public QDialog {
    Q_OBJECT
  public:
    explicit MainDialog(const std::string& working_directory, QWidget* parent = nullptr);
    ~MainDialog() override;

    // Runs the dialog of communication mode (0..4).
    void open_mode_dialog(int mode);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void place();
    void fill();
    void collect();
    void comm_clicked(int id);
    void open_fields();
    void exit_clicked();

    std::unique_ptr<Ui::Main> ui_;
    QButtonGroup* link_;
    QButtonGroup* lookup_;
    QButtonGroup* backlight_;
    QButtonGroup* comm_;
};

}  // namespace fw
