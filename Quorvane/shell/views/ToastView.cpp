#include "ToastView.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "FontStyle.h"

ToastView::ToastView(const QString& text, QWidget* parent) : QWidget(parent), label_(new QLabel(text)) {
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignCenter);
    label_->setForegroundRole(QPalette::Text);
    applyFontStyle(label_, FontStyle::title2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->addWidget(label_);
    setAccessibleName(text);
}

QString ToastView::text() const {
    return label_->text();
}

QSize ToastView::sizeHint() const {
    const QFontMetrics metrics = label_->fontMetrics();
    return QSize(metrics.horizontalAdvance(label_->text()) + 1, metrics.height()) + QSize(32, 16);
}

void ToastView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath plate;
    plate.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(plate, palette().color(QPalette::Base));
}
