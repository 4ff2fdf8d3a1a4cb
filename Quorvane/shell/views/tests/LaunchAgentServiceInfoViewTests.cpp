// The launch-agent page: "Go to Settings" opens the settings screen as a sheet, whose service toggle
// registers the relay; the page's status watch then sees it and the flow goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include "Quorvane/core/AppVersions.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/testing/ViewsTestSupport.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/UserDefaults.h"

using namespace std::chrono_literals;

namespace {

TEST(LaunchAgentServiceInfoViewTest, TheSettingsSheetSwitchesTheServiceOnAndThePageGoesOn) {
    DependencyValues::shared().reset();
    platform::UserDefaults::standard().clear();
    auto service = std::make_shared<testsupport::FakeLaunchAgentService>(false);
    Dependency<LaunchAgentServiceKey>().set(service);
    Dependency<AppVersionsKey>().set(std::make_shared<AppVersions>(AppVersionsFileLocation::testNoUpdate));
    auto scheduler = std::make_shared<platform::VirtualScheduler>();
    MainWindowController controller;
    int continuations = 0;
    auto model = std::make_shared<LaunchAgentServiceInfoViewModel>([&] { ++continuations; }, nullptr,
                                                                   scheduler, controller);

    LaunchAgentServiceInfoView page(model);
    page.resize(800, 550);
    page.show();
    QApplication::setActiveWindow(&page);
    QApplication::processEvents();
    scheduler->advance(1s);
    EXPECT_EQ(page.messageLabel()->text(),
              "To continue, please enable the Quorvane service in the Settings app.");
    EXPECT_EQ(page.button()->text(), "Go to Settings");
    EXPECT_TRUE(page.button()->hasFocus());

    // Return opens the settings as a sheet over the page; Esc closes it again.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(page.settingsSheet());
    EXPECT_TRUE(page.settingsSheet()->isVisible());
    EXPECT_EQ(page.settingsSheet()->windowModality(), Qt::WindowModal);
    QTest::keyClick(page.settingsSheet(), Qt::Key_Escape);
    EXPECT_FALSE(page.settingsSheet());

    QTest::mouseClick(page.button(), Qt::LeftButton);
    ASSERT_TRUE(page.settingsSheet());
    auto* settings = static_cast<AppSettingsView*>(page.settingsSheet()->content());
    Toggle* toggle = settings->launchAgentToggle();
    EXPECT_FALSE(toggle->isChecked());
    QTest::mouseClick(toggle->checkBox(), Qt::LeftButton);
    EXPECT_EQ(service->log->list, std::vector<std::string>{"registerService"});
    EXPECT_TRUE(toggle->isChecked());

    // Within a second the page sees the service on and goes on by itself, once.
    EXPECT_EQ(continuations, 0);
    scheduler->advance(1s);
    EXPECT_EQ(continuations, 1);
    scheduler->advance(5s);
    EXPECT_EQ(continuations, 1);
    EXPECT_EQ(page.messageLabel()->text(), "Thank you for enabling the Quorvane service.");
    EXPECT_EQ(page.button()->text(), "Continue");

    // "Done" closes the sheet; "Continue" goes on.
    QTest::mouseClick(settings->doneButton(), Qt::LeftButton);
    EXPECT_FALSE(page.settingsSheet());
    QTest::mouseClick(page.button(), Qt::LeftButton);
    EXPECT_EQ(continuations, 2);
    DependencyValues::shared().reset();
}

}  // namespace
