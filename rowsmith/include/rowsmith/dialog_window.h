// The Rowsmith window: the folder it works in (with BROWSE), a status text
// and the RUN BUILD, EXIT and FILE buttons.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include "rowsmith/startup.h"

class QLabel;
class QLineEdit;
class QPushButton;

class QMessageBox;

namespace rowsmith {

class RowsmithDialog : public QDialog {
    Q_OBJECT
  public:
    // Asks the operator for a data file; returns an empty string when none
    // was chosen. The default shows the standard "Open Inventory" dialog.
    using FileChooser = std::function<QString(QWidget* parent, const QString& folder)>;
    // Asks the operator for a folder; "" when none was chosen.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& folder)>;

    explicit RowsmithDialog(const Paths& paths, QWidget* parent = nullptr);

    // Replace the file dialog and the message boxes (tests do).
    void set_file_chooser(FileChooser chooser) { choose_file_ = std::move(chooser); }
    void set_folder_chooser(FolderChooser chooser) { choose_folder_ = std::move(chooser); }

    // Works in folder from now on: the data and inventory files given by
    // name are taken there, and the folder is remembered for the next
    // start. False (and a note in the status) when it is no folder.
    bool set_folder(const QString& folder);
    void set_message_sink(MessageSink sink) { show_ = std::move(sink); }

    const Paths& paths() const { return paths_; }
    QString status_text() const;
    // Result of the last RUN BUILD (0 before the first).
    int last_result() const { return last_result_; }

    QPushButton* run_button() const { return run_; }
    QPushButton* exit_button() const { return exit_; }
    QPushButton* file_button() const { return file_; }
    QPushButton* browse_button() const { return browse_; }
    QLineEdit* folder_box() const { return folder_; }

    // The standard open-file dialog with the "Xmit" and "All" filters.
    static QString ask_for_file(QWidget* parent, const QString& folder);
    // The standard folder dialog.
    static QString ask_for_folder(QWidget* parent, const QString& folder);

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void run_build();
    void choose_source();
    void show_source_state();
    void show_message(const Message& message);

    Paths paths_;
    FileChooser choose_file_;
    FolderChooser choose_folder_;
    MessageSink show_;
    int last_result_ = 0;
    bool centred_ = false;
    QLabel* status_ = nullptr;
    QPushButton* run_ = nullptr;
    QPushButton* exit_ = nullptr;
    QPushButton* file_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLineEdit* folder_ = nullptr;
};

// The width a window needs for its caption to show whole in its title bar.
int caption_width(const QWidget& box);

// Widens a message box to caption_width when its text alone is narrower.
void size_to_caption(QMessageBox& box);

}  // namespace rowsmith
