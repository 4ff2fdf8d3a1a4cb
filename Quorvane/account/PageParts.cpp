#include "PageParts.h"

#include <QLabel>
#include <QScrollArea>

namespace accountviews {

QString buttonTitle(const std::string& text) {
    return QString::fromStdString(text).replace("&", "&&");
}

QLabel* wrappingText(const std::string& text, FontStyle style, QFont::Weight weight) {
    auto* label = new QLabel(QString::fromStdString(text));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyFontStyle(label, style, weight);
    return label;
}

QWidget* verticallyScrolling(QWidget* content) {
    auto* scroll = new QScrollArea;
    scroll->setWidget(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return scroll;
}

}  // namespace accountviews
