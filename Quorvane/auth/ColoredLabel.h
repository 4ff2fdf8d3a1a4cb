#pragma once
// Plain wrapped text in a colour worked out from the label's palette (a red note, a grey hint, faded text),
// worked out again whenever the palette changes, so it stays readable in the light and the dark appearance.
#include <QLabel>
#include <functional>

class ColoredLabel : public QLabel {
  public:
    using Color = std::function<QColor(const QPalette& palette)>;

    ColoredLabel(const QString& text, Color color, QWidget* parent = nullptr);

    // Text between the text colour and the text background, readable on either.
    static QColor secondary(const QPalette& palette);
    // The "SystemRed" colour asset.
    static QColor red(const QPalette& palette);
    // The text colour at 80 % opacity.
    static QColor faded(const QPalette& palette);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void recolor();

    Color color_;
    bool recoloring_ = false;
};
