#include "Assets.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <utility>

namespace {

QString imagePath(const QString& name) {
    return ":/images/" + name + ".svg";
}

// The line widths of a symbol are written for the regular weight.
double strokeScale(SymbolWeight weight) {
    switch (weight) {
        case SymbolWeight::ultraLight:
            return 0.45;
        case SymbolWeight::thin:
            return 0.7;
        case SymbolWeight::regular:
            return 1.0;
    }
    return 1.0;
}

// Our own images write every line width as a plain stroke-width="<number>" attribute: a scan finds them
// without waking a regular-expression engine in the idle app.
QByteArray withStrokeScale(const QByteArray& svg, double scale) {
    if (scale == 1.0)
        return svg;
    static constexpr QByteArrayView attribute = "stroke-width=\"";
    QByteArray out;
    out.reserve(svg.size());
    qsizetype last = 0;
    for (qsizetype at = svg.indexOf(attribute); at >= 0; at = svg.indexOf(attribute, last)) {
        const qsizetype valueStart = at + attribute.size();
        const qsizetype valueEnd = svg.indexOf('"', valueStart);
        if (valueEnd < 0)
            break;
        const QByteArray value = svg.sliced(valueStart, valueEnd - valueStart);
        bool isNumber = false;
        const double width = value.toDouble(&isNumber);
        out += svg.sliced(last, valueStart - last);
        out += isNumber ? QByteArray::number(width * scale) : value;
        last = valueEnd;
    }
    out += svg.sliced(last);
    return out;
}

// One renderer per image and weight, made on first use; images are few and small.
QSvgRenderer* renderer(const ViewImage& image, SymbolWeight weight) {
    static std::map<std::pair<QString, SymbolWeight>, std::unique_ptr<QSvgRenderer>> renderers;
    const auto key =
        std::make_pair(image.name, image.kind == ViewImage::Kind::symbol ? weight : SymbolWeight::regular);
    auto found = renderers.find(key);
    if (found == renderers.end()) {
        QFile file(imagePath(image.name));
        if (!file.open(QIODevice::ReadOnly))
            return nullptr;
        const auto svg = withStrokeScale(file.readAll(), strokeScale(key.second));
        auto made = std::make_unique<QSvgRenderer>(svg);
        if (!made->isValid())
            return nullptr;
        found = renderers.emplace(key, std::move(made)).first;
    }
    return found->second.get();
}

QRectF fitted(const QRectF& rect, QSizeF size) {
    size.scale(rect.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(rect.center());
    return target;
}

}  // namespace

QColor ViewColor::resolve(const QPalette& palette) const {
    if (auto role = std::get_if<QPalette::ColorRole>(&value_))
        return palette.color(*role);
    if (auto name = std::get_if<QString>(&value_))
        return colorAsset(*name, palette);
    return std::get<QColor>(value_);
}

bool isDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor colorAsset(const QString& name, const QPalette& palette) {
    const bool dark = isDarkPalette(palette);
    // Behind the wallet sheet's security check: a pale amber that draws the eye and keeps the text colour
    // readable.
    if (name == "SecurityCheckBackground")
        return dark ? QColor(0x42, 0x37, 0x1C) : QColor(0xFF, 0xF4, 0xD9);
    // Behind icons drawn in the text colour, and as the fill of a button whose title is in the text colour:
    // a soft blue-gray that keeps either text colour readable.
    if (name == "WalletButtonBackground")
        return dark ? QColor(0x3A, 0x46, 0x5C) : QColor(0xE3, 0xEA, 0xF4);
    // Text on a disc in the text colour: the opposite of the text colour.
    if (name == "DynamicWhite")
        return dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(0xFF, 0xFF, 0xFF);
    // A valid certificate's badge, with white drawn on it.
    if (name == "ValidGreen")
        return dark ? QColor(0x2A, 0x96, 0x46) : QColor(0x1F, 0x8A, 0x3B);
    // Warnings and unavailable notes: a red that keeps a contrast of 4.5 on the text background and on
    // "WalletButtonBackground" in either appearance.
    if (name == "SystemRed")
        return dark ? QColor(0xFF, 0x9E, 0x96) : QColor(0xC4, 0x16, 0x1C);
    return palette.color(QPalette::Text);
}

namespace {

double luminance(const QColor& color) {
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableBackground(QColor background, const QColor& text) {
    const bool lightText = luminance(text) > 0.5;
    for (int step = 0; step < 20 && contrastRatio(background, text) < 4.5; ++step)
        background = lightText ? background.darker(110) : background.lighter(110);
    return background;
}

void drawImage(QPainter& painter, const QRectF& rect, const ViewImage& image, const QColor& tint,
               SymbolWeight weight) {
    QSvgRenderer* svg = renderer(image, weight);
    if (!svg || rect.isEmpty())
        return;
    const QRectF target = fitted(rect, svg->defaultSize());
    if (image.kind == ViewImage::Kind::asset) {
        svg->render(&painter, target);
        return;
    }
    // A symbol is drawn in the tint: rendered alone at the device's resolution, then coloured through its
    // own shape.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage layer((target.size() * ratio).toSize().expandedTo(QSize(1, 1)),
                 QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter layerPainter(&layer);
        layerPainter.setRenderHint(QPainter::Antialiasing);
        svg->render(&layerPainter, QRectF(QPointF(), target.size()));
        layerPainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        layerPainter.fillRect(QRectF(QPointF(), target.size()), tint);
    }
    painter.drawImage(target.topLeft(), layer);
}
