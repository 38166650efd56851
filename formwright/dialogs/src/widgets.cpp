#include "widgets.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QRegularExpressionValidator>

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
}

int box_number(const QLineEdit* box) {
    return box->text().toInt();
}

}  // namespace fw
