#pragma once
// The app's images and colour assets. Images are SVG files of our own, built in as ":/images/<name>.svg":
// assets are drawn in their own colours; symbols are one-colour line drawings, tinted when drawn and drawn
// with thinner or thicker lines for their weight. Colour assets have a light and a dark value and follow the
// palette they are resolved against.
#include <QColor>
#include <QPalette>
#include <QRectF>
#include <QString>
#include <variant>

class QPainter;

enum class SymbolWeight { ultraLight, thin, regular };

struct ViewImage {
    enum class Kind { asset, symbol };
    Kind kind = Kind::asset;
    QString name;

    static ViewImage asset(QString name) { return {Kind::asset, std::move(name)}; }
    static ViewImage symbol(QString name) { return {Kind::symbol, std::move(name)}; }
    friend bool operator==(const ViewImage&, const ViewImage&) = default;
};

// A colour that a view resolves when it paints: a role of its palette, a colour asset, or a fixed colour.
class ViewColor {
  public:
    static ViewColor role(QPalette::ColorRole role) { return ViewColor(role); }
    static ViewColor asset(QString name) { return ViewColor(std::move(name)); }
    static ViewColor fixed(QColor color) { return ViewColor(color); }

    QColor resolve(const QPalette& palette) const;

  private:
    explicit ViewColor(std::variant<QPalette::ColorRole, QString, QColor> value) : value_(std::move(value)) {}
    std::variant<QPalette::ColorRole, QString, QColor> value_;
};

// A dark palette is one whose window colour is dark.
bool isDarkPalette(const QPalette& palette);
// "WalletButtonBackground", "DynamicWhite", "ValidGreen" and "SystemRed"; an unknown name resolves to the
// palette's text colour.
QColor colorAsset(const QString& name, const QPalette& palette);

// The contrast ratio of two colours (1 to 21), as accessibility guidelines define it.
double contrastRatio(const QColor& a, const QColor& b);
// The background, darkened (for light text) or lightened (for dark text) until the text on it reaches a
// contrast of 4.5.
QColor readableBackground(QColor background, const QColor& text);

// Draws the image scaled to fit the rectangle, centred, keeping its aspect ratio. Symbols are drawn in the
// tint with lines of the weight; assets ignore both.
void drawImage(QPainter& painter, const QRectF& rect, const ViewImage& image, const QColor& tint,
               SymbolWeight weight = SymbolWeight::regular);
