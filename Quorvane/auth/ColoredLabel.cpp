#include "ColoredLabel.h"

#include <QEvent>

#include "Quorvane/shell/views/Assets.h"

ColoredLabel::ColoredLabel(const QString& text, Color color, QWidget* parent)
    : QLabel(text, parent), color_(std::move(color)) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    recolor();
}

QColor ColoredLabel::secondary(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Text), base = palette.color(QPalette::Base);
    return QColor::fromRgbF(text.redF() * 0.6f + base.redF() * 0.4f,
                            text.greenF() * 0.6f + base.greenF() * 0.4f,
                            text.blueF() * 0.6f + base.blueF() * 0.4f);
}

QColor ColoredLabel::red(const QPalette& palette) {
    return colorAsset("SystemRed", palette);
}

QColor ColoredLabel::faded(const QPalette& palette) {
    QColor text = palette.color(QPalette::Text);
    text.setAlphaF(0.8f);
    return text;
}

void ColoredLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !recoloring_)
        recolor();
}

void ColoredLabel::recolor() {
    // Setting the palette sends a palette change of its own.
    recoloring_ = true;
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, color_(colors));
    setPalette(colors);
    recoloring_ = false;
}
