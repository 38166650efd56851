// Modal dialogs and message boxes of the window.
//
// Every dialog and message box is run through run_modal, so that tests can
// install a hook that drives the real dialog (find its children by object
// name, click them) instead of blocking in a nested event loop.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "foundation/operator_view.h"

class QWidget;

namespace ql {

// Receives every dialog about to be run, already shown. It closes it (done,
// accept, a click on a button); a dialog left open counts as rejected.
using ModalHook = std::function<void(QDialog&)>;

// Installs the hook (nullptr: dialogs run their own event loop again).
void set_modal_hook(ModalHook hook);

// Runs the dialog modally and returns its result code.
int run_modal(QDialog& dialog);

// Runs the dialog without blocking its parent window (which keeps taking
// clicks) and returns its result code when it is closed. The test hook
// drives it like a modal one.
int run_modeless(QDialog& dialog);

// A message box with the system's texts: "\r\n" in the text is a line
// break. Returns answer::kOk, kCancel, kYes or kNo. The box's object name
// is "messageBox".
int show_message_box(QWidget* parent, const std::string& text, const std::string& caption,
                     Buttons buttons, Icon icon);

// The same box run with run_modeless; opened (when given) receives it just
// before it is shown, so that the caller can close it from outside.
int show_modeless_message_box(QWidget* parent, const std::string& text, const std::string& caption,
                              Buttons buttons, Icon icon,
                              const std::function<void(QDialog*)>& opened);

}  // namespace ql
