#include "ImageView.h"

#include <QPainter>
#include <QPainterPath>

ImageView::ImageView(ViewImage image, QSize imageSize, Style style, QWidget* parent)
    : QWidget(parent), image_(std::move(image)), imageSize_(imageSize), style_(std::move(style)) {
    setFixedSize(sizeHint());
}

QSize ImageView::sizeHint() const {
    return imageSize_ + QSize(2 * style_.padding, 2 * style_.padding);
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (style_.background) {
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), style_.backgroundCornerRadius, style_.backgroundCornerRadius);
        painter.fillPath(tile, style_.background->resolve(palette()));
    }
    const QRectF imageRect(QPointF(style_.padding, style_.padding), QSizeF(imageSize_));
    if (style_.imageCornerRadius > 0) {
        QPainterPath clip;
        clip.addRoundedRect(imageRect, style_.imageCornerRadius, style_.imageCornerRadius);
        painter.setClipPath(clip);
    }
    drawImage(painter, imageRect, image_, style_.tint.resolve(palette()), style_.weight);
}
