#include "ViewTestSupport.h"

#include <QApplication>

namespace testsupport {

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x2B, 0x2B, 0x2B), base(0x1E, 0x1E, 0x1E), text(0xEE, 0xEE, 0xEE);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3A));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x2F, 0x7F, 0xD6));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0x9A, 0x9A, 0x9A));
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Light, QColor(0x55, 0x55, 0x55));
    palette.setColor(QPalette::Midlight, QColor(0x45, 0x45, 0x45));
    palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Link, QColor(0x6C, 0xB4, 0xFF));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    return palette;
}

ScopedFontScale::ScopedFontScale(double factor) : previous_(QApplication::font()) {
    QFont larger = previous_;
    larger.setPointSizeF(previous_.pointSizeF() * factor);
    QApplication::setFont(larger);
}

ScopedFontScale::~ScopedFontScale() {
    QApplication::setFont(previous_);
}

}  // namespace testsupport
