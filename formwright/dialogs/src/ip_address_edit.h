// An IPv4 address entry: four boxes of 0 to 255 separated by dots, with the
// keyboard manners of the address controls people know: three digits move
// on to the next box, a "." moves on unless the move just happened by
// itself, and a pasted dotted address fills all four boxes.
#pragma once

#include <QString>
#include <QWidget>
#include <array>

class QLineEdit;

class IpAddressEdit : public QWidget {
    Q_OBJECT
  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // Shows a dotted address; anything that is not four numbers of 0 to 255
    // leaves the boxes blank.
    void setText(const QString& dotted);
    // The dotted text of the four boxes, a blank box read as 0; empty when
    // every box is blank.
    QString text() const;
    // True when every box is blank or 0: the address counts as empty.
    bool isEmpty() const;
    // Empties the four boxes.
    void clear();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int value(int part) const;
    void move_to(int part);
    void paste_address(const QString& text);
    std::array<QLineEdit*, 4> parts_{};
    // The focus moved on after a third digit and nothing was typed since:
    // a "." typed now only confirms that move.
    bool moved_by_itself_ = false;
};
