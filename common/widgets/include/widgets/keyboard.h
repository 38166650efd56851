// Qt helpers shared by the operator window and the configurator.
#pragma once

class QWidget;

namespace widgets {

// The platform's keyboard manners in a dialog: Return and Enter press the
// focused push button, a radio group is one tab stop at its checked radio
// (the arrows move inside it), and the focused button shows a clear focus
// frame. Call once the dialog's push buttons and radio groups exist; radios
// toggled later move the tab stop with them.
void keyboard_conventions(QWidget* dialog);

}  // namespace widgets
