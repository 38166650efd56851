// The window's picture: a handheld terminal standing in its cradle, with a
// barcode on the quay side and a line of data in flight. Drawn rather than
// loaded, so the program carries no image files.
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "window/main_window.h"

namespace ql {

namespace {

void draw_cradle(QPainter& p) {
    QLinearGradient base(0, 66, 0, 90);
    base.setColorAt(0, QColor(70, 80, 96));
    base.setColorAt(1, QColor(34, 40, 52));
    p.setBrush(base);
    p.setPen(QPen(QColor(20, 24, 30), 1));
    p.drawRoundedRect(QRectF(10, 68, 60, 20), 5, 5);
    p.setBrush(QColor(120, 220, 120));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(58, 80, 5, 5));  // the cradle's "connected" light
}

void draw_terminal(QPainter& p) {
    QPainterPath body;
    body.addRoundedRect(QRectF(22, 8, 36, 66), 7, 7);
    QLinearGradient shell(22, 0, 58, 0);
    shell.setColorAt(0, QColor(250, 196, 60));
    shell.setColorAt(1, QColor(214, 140, 20));
    p.setBrush(shell);
    p.setPen(QPen(QColor(120, 70, 10), 1.2));
    p.drawPath(body);
    p.setBrush(QColor(30, 60, 70));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(27, 14, 26, 22), 2, 2);  // screen
    p.setPen(QPen(QColor(140, 255, 200), 1));
    for (int y = 18; y < 34; y += 4) p.drawLine(30, y, 30 + (y * 7) % 19, y);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 50, 10));
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) p.drawRect(QRectF(29 + col * 8, 41 + row * 6, 6, 4));
    }
}

void draw_barcode(QPainter& p) {
    static const int widths[] = {2, 1, 1, 3, 1, 2, 1, 1, 2, 3, 1, 1, 2, 1};
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(60, 60, 60), 0.8));
    p.drawRect(QRectF(64, 10, 26, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    qreal x = 66;
    for (size_t i = 0; i < sizeof widths / sizeof widths[0] && x < 88; ++i) {
        if (i % 2 == 0) p.drawRect(QRectF(x, 12, widths[i], 18));
        x += widths[i];
    }
}

void draw_beam(QPainter& p) {
    QPen beam(QColor(230, 40, 40, 200), 1.5, Qt::DashLine);
    p.setPen(beam);
    p.drawLine(QPointF(58, 22), QPointF(64, 21));
    p.setPen(QPen(QColor(40, 110, 220), 2));
    for (int i = 0; i < 3; ++i)
        p.drawArc(QRectF(70 - i * 5, 52 - i * 5, 10 + i * 10, 10 + i * 10), 300 * 16, 60 * 16);
}

}  // namespace

QPixmap quaylink_bitmap() {
    QPixmap pixmap(96, 96);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw_cradle(p);
    draw_terminal(p);
    draw_barcode(p);
    draw_beam(p);
    return pixmap;
}

}  // namespace ql
