#include "ContentDivider.h"

#include <QPainter>

ContentDivider::ContentDivider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ContentDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor gray(Qt::gray);
    gray.setAlphaF(0.3f);
    painter.fillRect(rect(), gray);
}
