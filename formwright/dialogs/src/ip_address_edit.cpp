#include "ip_address_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>
#include <QVBoxLayout>
#include <QValidator>

#include "widgets.h"

namespace {

// Four numbers of 0 to 255, dotted, blanks around allowed.
bool parse_dotted(const QString& text, std::array<int, 4>& values) {
    const QStringList pieces = text.trimmed().split('.');
    if (pieces.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        const QString piece = pieces[i].trimmed();
        if (piece.isEmpty() || piece.size() > 3) return false;
        bool ok = false;
        values[i] = piece.toInt(&ok);
        if (!ok || values[i] < 0 || values[i] > 255) return false;
    }
    return true;
}

// A host name or an IPv6 address as the terminal can keep it.
bool is_host_name(const QString& text) {
    static const QRegularExpression name(
        QString("^[A-Za-z0-9.:\\-]{1,%1}$").arg(IpAddressEdit::kHostNameMax));
    return name.match(text).hasMatch();
}

// One box: 0 to 255 without leading zeros, so "300" cannot be typed. A
// whole dotted address arriving at once (paste, drop, middle click) is
// handed to the control, which spreads it over the four boxes; a name or
// an IPv6 address (typed into the empty first box, or pasted) is handed
// over for the name box.
class PartValidator : public QValidator {
    Q_OBJECT
  public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        (void)pos;
        static const QRegularExpression part("^(25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9])?$");
        if (part.match(input).hasMatch()) return Acceptable;
        std::array<int, 4> values{};
        // The box is being changed inside QLineEdit: fill it afterwards.
        if (input.contains('.') && parse_dotted(input, values)) {
            emit const_cast<PartValidator*>(this)->addressArrived(input.trimmed());
        } else if (is_host_name(input.trimmed())) {
            emit const_cast<PartValidator*>(this)->nameArrived(input.trimmed());
        }
        return Invalid;
    }

  signals:
    void addressArrived(const QString& dotted);
    void nameArrived(const QString& name);
};

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    // The boxes on one row, the name box's note on a row below it: beside
    // the box the note would widen the whole dialog past a small screen.
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    rows->addLayout(layout);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            dots_[i - 1] = new QLabel(".", this);
            layout->addWidget(dots_[i - 1]);
        }
        auto* part = new QLineEdit(this);
        part->setObjectName(QString("part%1").arg(i));
        // No length limit on the box itself: a pasted address must reach
        // the validator whole; it allows three digits.
        auto* validator = new PartValidator(part);
        part->setValidator(validator);
        connect(validator, &PartValidator::addressArrived, this, &IpAddressEdit::paste_address,
                Qt::QueuedConnection);
        // A name or an IPv6 address typed from the start: the boxes before
        // this one can only hold what the automatic moves put there (three
        // digits each, "2001:db8::5" begins so), and they lead the name. A
        // stray letter in a half-typed dotted address is refused as before.
        connect(
            validator, &PartValidator::nameArrived, this,
            [this, i](const QString& typed) {
                QString name;
                for (int j = 0; j < i; ++j) {
                    if (parts_[j]->text().size() != 3) return;
                    name += parts_[j]->text();
                }
                show_name(name + typed);
            },
            Qt::QueuedConnection);
        part->setAlignment(Qt::AlignCenter);
        fw::fit_box(part, 3, '0');
        part->setMaximumWidth(part->minimumWidth() + part->fontMetrics().horizontalAdvance('0'));
        part->installEventFilter(this);
        layout->addWidget(part);
        parts_[i] = part;
        connect(part, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            moved_by_itself_ = false;
            if (text.size() == 3 && i < 3 && parts_[i]->cursorPosition() == 3) {
                move_to(i + 1);
                moved_by_itself_ = true;
            }
        });
    }
    name_ = new QLineEdit(this);
    name_->setObjectName("name");
    name_->setMaxLength(kHostNameMax);
    name_->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString("[A-Za-z0-9.:\\-]{0,%1}").arg(kHostNameMax)), name_));
    // As wide as the four boxes' row about: a name of average letters fits.
    fw::fit_box(name_, kHostNameMax, 'n');
    layout->addWidget(name_);
    name_note_ = new QLabel(QString("(name or IPv6, %1 at most)").arg(kHostNameMax), this);
    name_note_->setObjectName("nameNote");
    rows->addWidget(name_note_);
    name_->hide();
    name_note_->hide();
    // An emptied name box gives the four address boxes back.
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.isEmpty()) {
            clear();
            parts_[0]->setFocus();
        }
    });
    layout->addStretch();
    setFocusProxy(parts_[0]);
}

void IpAddressEdit::setText(const QString& text) {
    clear();
    std::array<int, 4> values{};
    if (parse_dotted(text, values)) {
        for (int i = 0; i < 4; ++i) parts_[i]->setText(QString::number(values[i]));
    } else if (is_host_name(text.trimmed())) {
        show_name(text.trimmed());
        name_->clearFocus();
    }
}

void IpAddressEdit::show_name(const QString& text) {
    for (QLineEdit* part : parts_) {
        part->clear();
        part->hide();
    }
    for (QLabel* dot : dots_) dot->hide();
    name_->setText(text);
    name_->show();
    name_note_->show();
    setFocusProxy(name_);
    name_->setFocus();
    name_->end(false);
}

bool IpAddressEdit::showsName() const {
    return !name_->isHidden();
}

void IpAddressEdit::paste_address(const QString& text) {
    setText(text);
    moved_by_itself_ = false;
    parts_[3]->setFocus();
    parts_[3]->end(false);
}

void IpAddressEdit::move_to(int part) {
    parts_[part]->setFocus();
    parts_[part]->selectAll();
}

int IpAddressEdit::value(int part) const {
    const int v = parts_[part]->text().toInt();
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

QString IpAddressEdit::text() const {
    if (showsName()) return name_->text();
    bool any = false;
    for (QLineEdit* part : parts_) any = any || !part->text().isEmpty();
    if (!any) return QString();
    return QString("%1.%2.%3.%4").arg(value(0)).arg(value(1)).arg(value(2)).arg(value(3));
}

bool IpAddressEdit::isEmpty() const {
    if (showsName()) return name_->text().isEmpty();
    for (int i = 0; i < 4; ++i) {
        if (value(i) != 0) return false;
    }
    return true;
}

void IpAddressEdit::clear() {
    name_->clear();
    name_->hide();
    name_note_->hide();
    for (QLineEdit* part : parts_) {
        part->clear();
        part->show();
    }
    for (QLabel* dot : dots_) dot->show();
    setFocusProxy(parts_[0]);
}

// A "." moves to the next box when the box holds digits and the move has
// not just happened by itself; backspace in an empty box goes back.
bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) moved_by_itself_ = false;
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 4; ++i) {
        if (watched != parts_[i]) continue;
        if (key->key() == Qt::Key_Period || key->text() == ".") {
            const bool confirm_only = moved_by_itself_;
            moved_by_itself_ = false;
            if (!confirm_only && i < 3 && !parts_[i]->text().isEmpty()) move_to(i + 1);
            return true;
        }
        if (key->key() == Qt::Key_Backspace && i > 0 && parts_[i]->text().isEmpty()) {
            moved_by_itself_ = false;
            parts_[i - 1]->setFocus();
            parts_[i - 1]->end(false);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

#include "ip_address_edit.moc"
