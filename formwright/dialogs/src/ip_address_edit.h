// An IPv4 address entry: four boxes of 0 to 255 separated by dots.
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
    std::array<QLineEdit*, 4> parts_{};
};
