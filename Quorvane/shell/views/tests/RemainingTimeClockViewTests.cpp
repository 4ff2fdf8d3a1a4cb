// The clock: the sector's angle for the remaining time, and what a 20-point clock paints where.
#include <gtest/gtest.h>

#include <QImage>

#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/Wedge.h"

namespace {

TEST(RemainingTimeClockTest, TheSectorIsTheElapsedShareHeldToAFullTurn) {
    struct Case {
        int total;
        int remaining;
        double angle;
    };
    const Case cases[] = {
        {60, 60, 0},  {60, 45, 90},  {60, 30, 180}, {60, 15, 270},
        {60, 0, 360}, {60, -5, 360}, {60, 90, 0},  // more left than the limit: nothing elapsed
        {0, 0, 360},                               // a limit of 0 has run out at once
        {0, 10, 360}, {-1, 10, 360},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.remaining) + " of " + std::to_string(c.total));
        RemainingTimeClockView clock(c.total, c.remaining);
        EXPECT_DOUBLE_EQ(clock.elapsedAngle(), c.angle);
    }
}

// Painted 20 by 20 on white: the circle's edge, and the sector (diameter 15) filling from twelve o'clock
// clockwise.
TEST(RemainingTimeClockTest, PaintsTheElapsedQuartersClockwiseFromTwelve) {
    struct Case {
        int remaining;
        bool topRight, bottomRight, bottomLeft, topLeft;
    };
    const Case cases[] = {
        {60, false, false, false, false}, {45, true, false, false, false}, {30, true, true, false, false},
        {15, true, true, true, false},    {0, true, true, true, true},
    };
    auto dark = [](const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 128; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remaining);
        RemainingTimeClockView clock(60, c.remaining);
        QPalette palette;
        palette.setColor(QPalette::WindowText, Qt::black);
        palette.setColor(QPalette::Window, Qt::white);
        clock.setPalette(palette);
        clock.resize(20, 20);
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        clock.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        // Points in each quarter, inside the 7.5-point sector radius.
        EXPECT_EQ(dark(image, 13, 6), c.topRight);
        EXPECT_EQ(dark(image, 13, 13), c.bottomRight);
        EXPECT_EQ(dark(image, 6, 13), c.bottomLeft);
        EXPECT_EQ(dark(image, 6, 6), c.topLeft);
        // The outline, all round; the gap between sector and outline stays clear.
        EXPECT_TRUE(dark(image, 10, 0));
        EXPECT_TRUE(dark(image, 0, 10));
        EXPECT_TRUE(dark(image, 19, 10));
        // Between the 2-point outline (to 1 point in) and the sector (from 2.5 points in): clear.
        EXPECT_FALSE(dark(image, 10, 1));
        EXPECT_FALSE(dark(image, 1, 10));
    }
}

TEST(RemainingTimeClockTest, AWedgeIsASectorOfTheLargestCentredDisc) {
    const QRectF frame(0, 0, 15, 20);
    const auto half = Wedge{0, 180}.path(frame);
    const QRectF bounds = half.boundingRect();
    EXPECT_NEAR(bounds.left(), 7.5, 0.01) << "the right half first";
    EXPECT_NEAR(bounds.right(), 15, 0.01);
    EXPECT_NEAR(bounds.top(), 2.5, 0.01);
    EXPECT_NEAR(bounds.bottom(), 17.5, 0.01);
    const QRectF none = (Wedge{0, 0}).path(frame).boundingRect();
    EXPECT_LT(none.width() * none.height(), 0.01) << "no time elapsed: no area";
}

}  // namespace
