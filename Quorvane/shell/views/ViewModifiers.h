#pragma once
// Two helpers that many screens share: moving the keyboard focus to a screen's default control once the
// screen is shown, and the app's standard rounded box behind a piece of content.
#include <QPalette>
#include <QWidget>

#include "Assets.h"

// The standard padding around content, in device-independent pixels.
inline constexpr int defaultPadding = 16;

// Gives the widget the keyboard focus on a later turn of the event loop, once the screen has been laid out
// and shown. Calls made in a row take effect in that order, so the last one wins. Nothing happens when the
// widget is gone by then.
void setFocusAsync(QWidget* widget);

// Pads its content by the standard padding and draws behind it a box with corner radius 5, filled with a
// colour of the palette (the text background by default) or a colour asset and outlined in gray. It takes the
// size of the padded content, so it grows with it, and follows the palette when it changes (light or dark).
class RoundedBorderBox : public QWidget {
  public:
    explicit RoundedBorderBox(QWidget* content, QPalette::ColorRole fill = QPalette::Base,
                              QWidget* parent = nullptr);
    RoundedBorderBox(QWidget* content, ViewColor fill, QWidget* parent = nullptr);

    // The outline's colour in place of gray.
    void setOutlineColor(QColor color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ViewColor fill_;
    QColor outline_ = Qt::gray;
};

// The content in a RoundedBorderBox.
RoundedBorderBox* roundedBorderStyle(QWidget* content, QPalette::ColorRole fill = QPalette::Base);
