#pragma once
// A sector of a disc, its angles in degrees measured clockwise from twelve o'clock. The disc is the largest
// one centred in the rectangle.
#include <QPainterPath>
#include <QRectF>

struct Wedge {
    double startAngle = 0;
    double endAngle = 0;

    QPainterPath path(const QRectF& rect) const;
};
