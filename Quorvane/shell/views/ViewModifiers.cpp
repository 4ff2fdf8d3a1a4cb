#include "ViewModifiers.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVBoxLayout>

void setFocusAsync(QWidget* widget) {
    QMetaObject::invokeMethod(
        widget,
        [target = QPointer<QWidget>(widget)] {
            if (target)
                target->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
}

RoundedBorderBox::RoundedBorderBox(QWidget* content, QPalette::ColorRole fill, QWidget* parent)
    : RoundedBorderBox(content, ViewColor::role(fill), parent) {}

RoundedBorderBox::RoundedBorderBox(QWidget* content, ViewColor fill, QWidget* parent)
    : QWidget(parent), fill_(std::move(fill)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->addWidget(content);
}

void RoundedBorderBox::setOutlineColor(QColor color) {
    outline_ = color;
    update();
}

void RoundedBorderBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The 1 px outline is centred on the box's edge: inset by half its width to keep it whole.
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, 5, 5);
    painter.fillPath(path, fill_.resolve(palette()));
    QPen outline(outline_, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    outline.setMiterLimit(10);
    painter.strokePath(path, outline);
}

RoundedBorderBox* roundedBorderStyle(QWidget* content, QPalette::ColorRole fill) {
    return new RoundedBorderBox(content, fill);
}
