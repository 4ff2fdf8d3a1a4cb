#pragma once
// The push buttons of the screens: bordered, or bordered-prominent (filled with the palette's accent
// colour, the screen's main action and, in a sheet, its default button), in the regular or the large
// control size, the prominent one optionally tinted with a colour of its own (a destructive action in red).
// Return or Enter presses a button that has the keyboard focus.
#include <QPushButton>
#include <optional>

#include "Assets.h"

class StyledButton : public QPushButton {
  public:
    enum class Style { bordered, borderedProminent };
    enum class ControlSize { regular, large };

    StyledButton(const QString& text, Style style, ControlSize size = ControlSize::regular,
                 QWidget* parent = nullptr);

    // The fill of a prominent button in place of the palette's accent colour.
    void setTint(ViewColor tint);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Style style_;
    ControlSize size_;
    std::optional<ViewColor> tint_;
};
