#pragma once
// The text styles of the screens, relative to the application's font, so that a larger system font makes
// every style larger. Their sizes keep the proportions of a 13-point body text: large title 26, title 22,
// title 2 17, title 3 15.
#include <QFont>

class QWidget;

enum class FontStyle { body, largeTitle, title, title2, title3 };

QFont styledFont(FontStyle style, QFont::Weight weight = QFont::Normal);
// Gives the widget the style's font.
void applyFontStyle(QWidget* widget, FontStyle style, QFont::Weight weight = QFont::Normal);
