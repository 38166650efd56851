// Small helpers shared by the dialogs.
#pragma once

#include <QChar>
#include <QString>
#include <string>

#include "widgets/keyboard.h"

class QButtonGroup;
class QFontMetrics;
class QLineEdit;
class QWidget;

namespace fw {

// The file holds single-byte text: Latin-1 both ways.
inline QString qs(const std::string& s) {
    return QString::fromLatin1(s.data(), s.size());
}
inline std::string ss(const QString& s) {
    return s.toLatin1().toStdString();
}

// Groups the radios named prefix0 .. prefix<count-1> under root; their ids
// are 0 .. count-1.
QButtonGroup* radio_group(QWidget* root, const QString& prefix, int count);

// Checks the radio with id; any other id leaves the whole group unchecked.
void check_id(QButtonGroup* group, int id);

// Fills a text box; a stored value longer than the box allows widens the
// limit, so showing and collecting never cuts a value.
void set_box(QLineEdit* box, const std::string& value);

// A text box whose content goes into the file: ';' would end the value
// there, so it cannot be typed.
void file_text_box(QLineEdit* box);

// A box for a small number: digits only (and only as wide as its digits).
void number_box(QLineEdit* box);

// Makes a box at least wide enough to show chars characters like sample
// without scrolling, at the box's current font.
void fit_box(QLineEdit* box, int chars, QChar sample);

// The widest capital letter of a font.
QChar widest_capital(const QFontMetrics& metrics);

// fit_box for every text box under root that has a length limit, with the
// widest capital as the sample (masks, codes and names are capitals). Call before
// the boxes are filled: a stored value may widen a limit.
void fit_boxes(QWidget* root);

// A box's number, 0 when empty.
int box_number(const QLineEdit* box);

// The platform's keyboard manners in a dialog (see widgets/keyboard.h).
using widgets::keyboard_conventions;

}  // namespace fw
