#include "BulletView.h"

#include <QPainter>

#include "Assets.h"

BulletView::BulletView(QString content, QWidget* parent) : QWidget(parent), content_(std::move(content)) {
    setFixedSize(diameter, diameter);
    setAccessibleName(content_);
}

void BulletView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::WindowText));
    painter.drawEllipse(QRectF(rect()));
    painter.setPen(colorAsset("DynamicWhite", palette()));
    painter.drawText(rect(), Qt::AlignCenter, content_);
}
