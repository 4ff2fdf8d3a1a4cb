#include "StyledButton.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "Assets.h"

StyledButton::StyledButton(const QString& text, Style style, ControlSize size, QWidget* parent)
    : QPushButton(text, parent), style_(style), size_(size) {
    setAutoDefault(true);
    if (style == Style::borderedProminent)
        setDefault(true);
}

void StyledButton::setTint(ViewColor tint) {
    tint_ = std::move(tint);
    update();
}

QSize StyledButton::sizeHint() const {
    QSize size = QPushButton::sizeHint();
    if (size_ == ControlSize::large)
        size += QSize(fontMetrics().averageCharWidth() * 2, fontMetrics().height() / 2 + 2);
    return size;
}

QSize StyledButton::minimumSizeHint() const {
    return sizeHint();
}

void StyledButton::paintEvent(QPaintEvent* event) {
    if (style_ == Style::bordered) {
        QPushButton::paintEvent(event);
        return;
    }
    // The accent fill, made dark (or light) enough for its text to stay readable, resolved at every paint so
    // that the button follows a change of palette.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    QColor text = colors.color(QPalette::HighlightedText);
    QColor fill =
        readableBackground(tint_ ? tint_->resolve(colors) : colors.color(QPalette::Highlight), text);
    if (!isEnabled()) {
        fill = colors.color(QPalette::Disabled, QPalette::Button);
        text = colors.color(QPalette::Disabled, QPalette::ButtonText);
    } else if (isDown()) {
        fill = isDarkPalette(colors) ? fill.lighter(120) : fill.darker(120);
    }
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QRectF plate = outer.adjusted(2, 2, -2, -2);
    QPainterPath path;
    path.addRoundedRect(plate, 5, 5);
    painter.fillPath(path, fill);
    if (hasFocus()) {
        // A ring around the plate, apart from it, in the accent colour.
        QPainterPath ring;
        ring.addRoundedRect(outer, 7, 7);
        painter.strokePath(ring, QPen(colors.color(QPalette::Highlight), 1.5));
    }
    painter.setPen(text);
    painter.setFont(font());
    painter.drawText(plate, Qt::AlignCenter | Qt::TextShowMnemonic, this->text());
}
