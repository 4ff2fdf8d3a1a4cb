#include "Wedge.h"

#include <algorithm>

QPainterPath Wedge::path(const QRectF& rect) const {
    const double radius = std::min(rect.width(), rect.height()) * 0.5;
    const QRectF disc(rect.center().x() - radius, rect.center().y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(rect.center());
    // Qt counts angles counter-clockwise from three o'clock: twelve o'clock is 90, and clockwise is negative.
    path.arcTo(disc, 90 - startAngle, -(endAngle - startAngle));
    path.closeSubpath();
    return path;
}
