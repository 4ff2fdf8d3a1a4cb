#pragma once
// Renders a widget offscreen to <build>/screenshots/<name>.png, so that every screen and state can be looked
// at without a display.
#include <gtest/gtest.h>

#include <QSize>
#include <filesystem>
#include <string>

class QWidget;

namespace testsupport {

// The size of the main window's content.
inline constexpr QSize mainWindowSize{800, 550};

// Lays the widget out at the size, shows it offscreen, lets queued work (deferred focus, layouts) run, and
// saves what it draws. Fails when the widget draws nothing but its background.
::testing::AssertionResult saveScreenshot(QWidget& widget, const std::string& name,
                                          QSize size = mainWindowSize);

std::filesystem::path screenshotFolder();

}  // namespace testsupport
