// The FTP host entry: four boxes of 0 to 255 separated by dots, with the
// keyboard manners of the address controls people know (three digits move
// on to the next box, a "." moves on unless the move just happened by
// itself, a pasted dotted address fills all four boxes), and a host name or
// an IPv6 address as well: a letter or ":" typed into the empty first box,
// or such a text pasted, turns the control into one name box, which turns
// back into the four boxes when it is emptied. The terminal keeps at most
// kHostNameMax characters of the host; the name box says so and takes no
// more.
#pragma once

#include <QString>
#include <QWidget>
#include <array>

class QLabel;
class QLineEdit;

class IpAddressEdit : public QWidget {
    Q_OBJECT
  public:
    // What the terminal's settings file holds of the host.
    static constexpr int kHostNameMax = 16;

    explicit IpAddressEdit(QWidget* parent = nullptr);

    // Shows a dotted address in the four boxes, a host name or IPv6 address
    // (at most kHostNameMax characters of letters, digits, ".", "-", ":")
    // in the name box; anything else leaves the boxes blank.
    void setText(const QString& text);
    // The dotted text of the four boxes, a blank box read as 0, or the name
    // box's text; empty when everything is blank.
    QString text() const;
    // True when every box is blank or 0, or the name box is blank.
    bool isEmpty() const;
    // Empties the boxes and shows the four address boxes.
    void clear();
    // True while the name box is shown.
    bool showsName() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int value(int part) const;
    void move_to(int part);
    void paste_address(const QString& text);
    void show_name(const QString& text);
    std::array<QLineEdit*, 4> parts_{};
    std::array<QLabel*, 3> dots_{};
    QLineEdit* name_ = nullptr;
    QLabel* name_note_ = nullptr;
    // The focus moved on after a third digit and nothing was typed since:
    // a "." typed now only confirms that move.
    bool moved_by_itself_ = false;
};
