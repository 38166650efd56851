#include "widgets.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFontMetrics>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

namespace fw {

QButtonGroup* radio_group(QWidget* root, const QString& prefix, int count) {
    auto* group = new QButtonGroup(root);
    for (int i = 0; i < count; ++i) {
        auto* radio = root->findChild<QAbstractButton*>(prefix + QString::number(i));
        Q_ASSERT(radio != nullptr);
        group->addButton(radio, i);
    }
    return group;
}

void check_id(QButtonGroup* group, int id) {
    QAbstractButton* button = group->button(id);
    if (button != nullptr) {
        button->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last button.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(false);
    group->setExclusive(true);
}

void set_box(QLineEdit* box, const std::string& value) {
    const QString text = qs(value);
    if (text.size() > box->maxLength()) box->setMaxLength(text.size());
    box->setText(text);
}

void file_text_box(QLineEdit* box) {
    box->setValidator(new QRegularExpressionValidator(QRegularExpression("[^;]*"), box));
}

void number_box(QLineEdit* box) {
    box->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), box));
    fit_box(box, box->maxLength(), '0');
}

// The width QLineEdit itself asks for around a text of this width: its
// inner margins, the text and content margins, the cursor and the frame.
void fit_box(QLineEdit* box, int chars, QChar sample) {
    constexpr int kInnerMargin = 2;  // QLineEdit's own horizontal margin
    const QFontMetrics metrics(box->font());
    const QMargins text = box->textMargins();
    const QMargins content = box->contentsMargins();
    const int inner = metrics.horizontalAdvance(QString(chars, sample)) + 2 * kInnerMargin +
                      text.left() + text.right() + content.left() + content.right() + 2;
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
    const QSize size = box->style()->sizeFromContents(QStyle::CT_LineEdit, &option,
                                                      QSize(inner, metrics.height()), box);
    box->setMinimumWidth(size.width());
}

// Names and folders are often typed in capitals, and "W" is far wider than
// the average one: a box sized for its limit in "N" cut the last "W".
QChar widest_capital(const QFontMetrics& metrics) {
    QChar widest = 'W';
    for (char c = 'A'; c <= 'Z'; ++c) {
        if (metrics.horizontalAdvance(QChar(c)) > metrics.horizontalAdvance(widest)) widest = c;
    }
    return widest;
}

void fit_boxes(QWidget* root) {
    constexpr int kNoLimit = 1000;  // QLineEdit's default limit is 32767
    for (QLineEdit* box : root->findChildren<QLineEdit*>()) {
        if (box->maxLength() >= kNoLimit) continue;
        QChar sample = widest_capital(QFontMetrics(box->font()));
        if (box->echoMode() == QLineEdit::Password) {
            sample =
                QChar(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box));
        }
        fit_box(box, box->maxLength(), sample);
    }
}

int box_number(const QLineEdit* box) {
    return box->text().toInt();
}

}  // namespace fw
