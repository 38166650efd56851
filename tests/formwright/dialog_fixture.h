// Drives the real dialogs offscreen: message boxes are answered by a
// recorder, sub-dialogs by a callback instead of a modal loop.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "formwright/dialogs.h"
#include "temp_dir.h"

class DialogTest : public ::testing::Test {
  protected:
    struct Message {
        QString text;
        QString caption;
        QMessageBox::StandardButtons buttons;
    };

    void SetUp() override;
    void TearDown() override;

    // The named child, or a test failure.
    template <class T>
    static T* child(QWidget& root, const char* name) {
        T* w = root.findChild<T*>(name);
        if (w == nullptr) throw std::runtime_error(std::string("no widget ") + name);
        return w;
    }
    // A mouse click on the button's indicator (or anywhere on a push button).
    static void click(QAbstractButton* button);
    // Replaces a box's text by typing, so validators and limits apply.
    static void type(QLineEdit* box, const QString& text);
    // The text of the settings file ("" when missing).
    std::string file() const { return dir.read("orderini"); }
    bool file_exists() const;

    testing_support::TempDir dir;
    std::vector<Message> messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::vector<QString> opened;              // titles of the sub-dialogs run
    std::function<void(QDialog&)> on_dialog;  // default: Cancel
};
