#pragma once
// One image at a fixed size, optionally padded on a rounded tile of its own colour and clipped to rounded
// corners. It follows the palette: symbols are re-tinted and colour assets re-resolved on every paint.
#include <QWidget>
#include <optional>

#include "Assets.h"

class ImageView : public QWidget {
  public:
    struct Style {
        ViewColor tint = ViewColor::role(QPalette::WindowText);
        SymbolWeight weight = SymbolWeight::regular;
        // The image is clipped to a rounded rectangle of this corner radius (0: not clipped).
        qreal imageCornerRadius = 0;
        // Space around the image, filled with the background when there is one.
        int padding = 0;
        std::optional<ViewColor> background = std::nullopt;
        qreal backgroundCornerRadius = 0;
    };

    ImageView(ViewImage image, QSize imageSize, Style style, QWidget* parent = nullptr);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ViewImage image_;
    QSize imageSize_;
    Style style_;
};
