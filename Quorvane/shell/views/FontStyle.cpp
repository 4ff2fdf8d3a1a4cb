#include "FontStyle.h"

#include <QApplication>
#include <QWidget>

namespace {

double scale(FontStyle style) {
    switch (style) {
        case FontStyle::body:
            return 1.0;
        case FontStyle::largeTitle:
            return 26.0 / 13.0;
        case FontStyle::title:
            return 22.0 / 13.0;
        case FontStyle::title2:
            return 17.0 / 13.0;
        case FontStyle::title3:
            return 15.0 / 13.0;
    }
    return 1.0;
}

}  // namespace

QFont styledFont(FontStyle style, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * scale(style));
    else
        font.setPixelSize(qRound(font.pixelSize() * scale(style)));
    font.setWeight(weight);
    return font;
}

void applyFontStyle(QWidget* widget, FontStyle style, QFont::Weight weight) {
    widget->setFont(styledFont(style, weight));
}
