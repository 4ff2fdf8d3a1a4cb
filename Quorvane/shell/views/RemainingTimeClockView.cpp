#include "RemainingTimeClockView.h"

#include <QPainter>
#include <algorithm>

#include "Wedge.h"

RemainingTimeClockView::RemainingTimeClockView(int totalTimeInSeconds, int remainingTimeInSecodns,
                                               QWidget* parent)
    : QWidget(parent),
      totalTimeInSeconds_(totalTimeInSeconds),
      remainingTimeInSecodns_(remainingTimeInSecodns) {}

void RemainingTimeClockView::setTime(int totalTimeInSeconds, int remainingTimeInSecodns) {
    if (totalTimeInSeconds == totalTimeInSeconds_ && remainingTimeInSecodns == remainingTimeInSecodns_)
        return;
    totalTimeInSeconds_ = totalTimeInSeconds;
    remainingTimeInSecodns_ = remainingTimeInSecodns;
    update();
}

double RemainingTimeClockView::elapsedAngle() const {
    if (totalTimeInSeconds_ <= 0)
        return 360;
    const double angle = 360.0 - 360.0 * static_cast<double>(remainingTimeInSecodns_) / totalTimeInSeconds_;
    return std::clamp(angle, 0.0, 360.0);
}

void RemainingTimeClockView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor foreground = palette().color(QPalette::WindowText);

    // The sector, in a frame three quarters as wide as the clock and as high as it, centred.
    const double sectorWidth = 0.75 * width();
    const QRectF sectorFrame((width() - sectorWidth) / 2, 0, sectorWidth, height());
    painter.fillPath(Wedge{0, elapsedAngle()}.path(sectorFrame), foreground);
    painter.drawPixmap(0, 0, outline(foreground));
}

// The outline is the same on every tick, and stroking a smooth circle costs more than the rest of the clock:
// it is drawn once per size, colour and pixel density.
const QPixmap& RemainingTimeClockView::outline(const QColor& color) {
    const qreal ratio = devicePixelRatioF();
    if (outline_.deviceIndependentSize() == QSizeF(size()) && outline_.devicePixelRatio() == ratio &&
        outlineColor_ == color)
        return outline_;
    outline_ = QPixmap(size() * ratio);
    outline_.setDevicePixelRatio(ratio);
    outline_.fill(Qt::transparent);
    outlineColor_ = color;
    QPainter painter(&outline_);
    painter.setRenderHint(QPainter::Antialiasing);
    // The largest centred circle, its 2-point stroke centred on the circle's edge.
    const double diameter = std::min(width(), height());
    const QRectF circle((width() - diameter) / 2, (height() - diameter) / 2, diameter, diameter);
    QPen pen(color, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    return outline_;
}
