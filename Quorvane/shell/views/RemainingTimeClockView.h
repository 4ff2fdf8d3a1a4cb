#pragma once
// A small pie clock for a time limit: a circle outline in the text colour with a filled sector that grows
// clockwise from twelve o'clock as time runs out (nothing with all the time left, a full disc at 0). The
// sector's diameter is three quarters of the clock's width.
#include <QColor>
#include <QPixmap>
#include <QWidget>

class RemainingTimeClockView : public QWidget {
  public:
    RemainingTimeClockView(int totalTimeInSeconds, int remainingTimeInSecodns, QWidget* parent = nullptr);

    // The owner passes new values as the time runs; the clock redraws.
    void setTime(int totalTimeInSeconds, int remainingTimeInSecodns);

    int totalTimeInSeconds() const { return totalTimeInSeconds_; }
    int remainingTimeInSecodns() const { return remainingTimeInSecodns_; }
    // The sector's end angle in degrees: the elapsed share of 360, held to 0...360. A limit of 0 (or less)
    // has run out at once: a full disc.
    double elapsedAngle() const;

    QSize sizeHint() const override { return {20, 20}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const QPixmap& outline(const QColor& color);

    int totalTimeInSeconds_;
    int remainingTimeInSecodns_;
    QPixmap outline_;
    QColor outlineColor_;
};
