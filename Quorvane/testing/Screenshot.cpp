#include "Screenshot.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace testsupport {

std::filesystem::path screenshotFolder() {
    return QUORVANE_SCREENSHOT_DIR;
}

::testing::AssertionResult saveScreenshot(QWidget& widget, const std::string& name, QSize size) {
    widget.resize(size);
    widget.show();
    QApplication::processEvents();
    QApplication::processEvents();
    QImage image = widget.grab().toImage();
    if (image.isNull() || image.size().isEmpty())
        return ::testing::AssertionFailure() << name << ": the widget rendered nothing";
    const QRgb background = image.pixel(0, 0);
    bool drawn = false;
    for (int y = 0; y < image.height() && !drawn; ++y)
        for (int x = 0; x < image.width() && !drawn; ++x)
            drawn = image.pixel(x, y) != background;
    if (!drawn)
        return ::testing::AssertionFailure() << name << ": the widget rendered an empty area";
    std::filesystem::create_directories(screenshotFolder());
    auto path = screenshotFolder() / (name + ".png");
    if (!image.save(QString::fromStdString(path.string())))
        return ::testing::AssertionFailure() << name << ": cannot write " << path;
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport
