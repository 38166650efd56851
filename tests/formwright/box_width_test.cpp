// Every text box shows its longest allowed text, in its widest capitals,
// without scrolling, at the normal font and at the larger one of a 144 DPI
// screen.
#include <QApplication>
#include <QFont>
#include <QLineEdit>
#include <QValidator>
#include <functional>
#include <memory>

#include "dialog_fixture.h"

namespace {

class BoxWidths : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        normal_font_ = QApplication::font();
    }
    void TearDown() override {
        QApplication::setFont(normal_font_);
        DialogTest::TearDown();
    }
    QFont normal_font_;
};

// The longest text the box takes: its limit in the given capital (the
// wide ones: a box sized for "N" cut the last "W"), or in digits when it
// takes digits only.
QString longest_text(const QLineEdit* box, QChar capital) {
    QString text(box->maxLength(), capital);
    int pos = 0;
    if (box->validator() != nullptr &&
        box->validator()->validate(text, pos) != QValidator::Acceptable)
        text = QString(box->maxLength(), '0');
    return text;
}

int cursor_x(const QLineEdit* box) {
    return box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
}

// True when the whole text shows: the way of the cursor from the first to
// the last character fits inside the box's frame. (The box scrolls only
// when it paints, so these positions are the unscrolled ones.)
bool shows_whole(QLineEdit* box, const QString& text) {
    constexpr int kFramesAndCursor = 6;
    box->setText(text);
    box->home(false);
    const int start = cursor_x(box);
    box->end(false);
    const int end = cursor_x(box);
    box->home(false);
    return end - start <= box->width() - kFramesAndCursor;
}

void check_all_boxes(QDialog& dialog) {
    dialog.show();
    QApplication::processEvents();
    int checked = 0;
    for (QLineEdit* box : dialog.findChildren<QLineEdit*>()) {
        if (box->maxLength() >= 1000) continue;
        for (QChar capital : {QChar('W'), QChar('M'), QChar('N')}) {
            const QString text = longest_text(box, capital);
            EXPECT_TRUE(shows_whole(box, text))
                << dialog.windowTitle().toStdString() << " " << box->objectName().toStdString()
                << " width " << box->width() << " text " << text.toStdString();
        }
        ++checked;
    }
    EXPECT_GT(checked, 0) << dialog.windowTitle().toStdString();
}

TEST_F(BoxWidths, EveryBoxFitsItsLongestTextAtNormalAndLargeFonts) {
    const std::function<std::unique_ptr<QDialog>()> makers[] = {
        [] {
            return std::make_unique<fw::ConfigFieldsDialog>(std::array<bool, 3>{true, true, true});
        },
        [] { return std::make_unique<fw::QuaylinkDialog>(); },
        [] { return std::make_unique<fw::AcousticDialog>(); },
        [] { return std::make_unique<fw::PtapDialog>(); },
        [this] { return std::make_unique<fw::MainDialog>(dir.path()); },
    };
    for (double scale : {1.0, 1.5}) {
        QFont font = normal_font_;
        if (normal_font_.pointSizeF() > 0) {
            font.setPointSizeF(normal_font_.pointSizeF() * scale);
        } else {
            font.setPixelSize(static_cast<int>(normal_font_.pixelSize() * scale));
        }
        QApplication::setFont(font);
        for (const auto& make : makers) {
            std::unique_ptr<QDialog> dialog = make();
            check_all_boxes(*dialog);
        }
    }
}

TEST_F(BoxWidths, IpAddressPartsShowThreeDigits) {
    fw::QuaylinkDialog dialog;
    dialog.show();
    QApplication::processEvents();
    QWidget* host = child<QWidget>(dialog, "hostEdit");
    for (QLineEdit* part : host->findChildren<QLineEdit*>()) {
        EXPECT_TRUE(shows_whole(part, "255"))
            << part->objectName().toStdString() << " width " << part->width();
    }
}

}  // namespace
