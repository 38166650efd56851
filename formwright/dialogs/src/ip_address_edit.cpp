#include "ip_address_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStringList>

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) layout->addWidget(new QLabel(".", this));
        auto* part = new QLineEdit(this);
        part->setObjectName(QString("part%1").arg(i));
        part->setMaxLength(3);
        // 0 to 255 without leading zeros; "300" cannot be typed at all.
        part->setValidator(new QRegularExpressionValidator(
            QRegularExpression("(25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9])?"), part));
        part->setAlignment(Qt::AlignCenter);
        part->setMaximumWidth(part->fontMetrics().horizontalAdvance("0000") + 10);
        part->installEventFilter(this);
        layout->addWidget(part);
        parts_[i] = part;
        // Three digits complete a part: move on like the address controls
        // people know.
        connect(part, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == 3 && i < 3) parts_[i + 1]->setFocus();
        });
    }
    layout->addStretch();
    setFocusProxy(parts_[0]);
}

void IpAddressEdit::setText(const QString& dotted) {
    clear();
    const QStringList pieces = dotted.trimmed().split('.');
    if (pieces.size() != 4) return;
    std::array<int, 4> values{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = pieces[i].toInt(&ok);
        if (!ok || values[i] < 0 || values[i] > 255) return;
    }
    for (int i = 0; i < 4; ++i) parts_[i]->setText(QString::number(values[i]));
}

int IpAddressEdit::value(int part) const {
    const int v = parts_[part]->text().toInt();
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

QString IpAddressEdit::text() const {
    bool any = false;
    for (QLineEdit* part : parts_) any = any || !part->text().isEmpty();
    if (!any) return QString();
    return QString("%1.%2.%3.%4").arg(value(0)).arg(value(1)).arg(value(2)).arg(value(3));
}

bool IpAddressEdit::isEmpty() const {
    for (int i = 0; i < 4; ++i) {
        if (value(i) != 0) return false;
    }
    return true;
}

void IpAddressEdit::clear() {
    for (QLineEdit* part : parts_) part->clear();
}

// A dot moves to the next box; backspace in an empty box goes back.
bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 4; ++i) {
        if (watched != parts_[i]) continue;
        if (key->key() == Qt::Key_Period && i < 3) {
            parts_[i + 1]->setFocus();
            parts_[i + 1]->selectAll();
            return true;
        }
        if (key->key() == Qt::Key_Backspace && i > 0 && parts_[i]->text().isEmpty()) {
            parts_[i - 1]->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
