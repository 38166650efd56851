// The keyboard manners operators know from their desktop, for every dialog
// of the operator window and the configurator: Return presses the focused button, a radio group is
// one tab stop, and the focused button is plainly marked.
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>

#include "widgets/keyboard.h"

namespace widgets {

namespace {

// The application's style plus a dotted frame inside a focused button.
class FocusFrameStyle : public QProxyStyle {
  public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
        constexpr int kInset = 4;
        painter->save();
        QPen pen(option->palette.color(QPalette::ButtonText));
        pen.setStyle(Qt::DotLine);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(kInset, kInset, -kInset - 1, -kInset - 1));
        painter->restore();
    }
};

QStyle* focus_frame_style() {
    static QPointer<FocusFrameStyle> style;
    if (style.isNull()) {
        style = new FocusFrameStyle;
        style->setParent(qApp);  // lives as long as the widgets that use it
    }
    return style.data();
}

// The radios that belong together: the button group, else the
// auto-exclusive radios of the same parent.
QList<QAbstractButton*> radio_siblings(QRadioButton* radio) {
    if (radio->group() != nullptr) return radio->group()->buttons();
    QList<QAbstractButton*> siblings;
    if (!radio->autoExclusive() || radio->parentWidget() == nullptr) return {radio};
    for (QRadioButton* r :
         radio->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
        if (r->autoExclusive() && r->group() == nullptr) siblings.push_back(r);
    }
    return siblings;
}

// Only the checked radio (or, with none checked, the first) takes the Tab
// key; the arrows still move through the whole group.
void one_tab_stop(const QList<QAbstractButton*>& radios) {
    QAbstractButton* stop = nullptr;
    for (QAbstractButton* r : radios) {
        if (r->isChecked() && r->isEnabled()) stop = r;
    }
    for (QAbstractButton* r : radios) {
        if (stop == nullptr && r->isEnabled()) stop = r;
    }
    for (QAbstractButton* r : radios) {
        r->setFocusPolicy(r == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

}  // namespace

void keyboard_conventions(QWidget* dialog) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        // In a dialog an auto-default button takes Return and Enter while it
        // has the focus.
        button->setAutoDefault(true);
        button->setStyle(focus_frame_style());
    }
    for (QRadioButton* radio : dialog->findChildren<QRadioButton*>()) {
        const QList<QAbstractButton*> group = radio_siblings(radio);
        if (group.front() != radio) continue;  // once per group
        one_tab_stop(group);
        for (QAbstractButton* r : group) {
            QObject::connect(r, &QAbstractButton::toggled, dialog,
                             [r] { one_tab_stop(radio_siblings(static_cast<QRadioButton*>(r))); });
        }
    }
}

}  // namespace widgets
