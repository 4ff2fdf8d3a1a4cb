#pragma once
// What the account screens build their pages from: wrapping texts in the text styles, and a page that scrolls
// vertically when a large font makes it taller than the window.
#include <QFont>
#include <QString>
#include <string>

#include "Quorvane/shell/views/FontStyle.h"

class QLabel;
class QWidget;

namespace accountviews {

// A button's title as it stands: "&" is not read as a shortcut marker.
QString buttonTitle(const std::string& text);

// Plain text, wrapped over as many lines as it needs.
QLabel* wrappingText(const std::string& text, FontStyle style = FontStyle::body,
                     QFont::Weight weight = QFont::Normal);

// The content in a frameless area that scrolls vertically, never horizontally; it takes the window's colour
// and leaves the keyboard focus to the controls inside, following them as Tab moves.
QWidget* verticallyScrolling(QWidget* content);

}  // namespace accountviews
