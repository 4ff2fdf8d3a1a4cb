// Renders of the shell's own surfaces: the status menu with its two choice submenus, the main window as it
// opens, the About panel, and the navigation's own pages in the window (the launch-agent page, and the
// message page waiting, with an error and with a message).
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

#include "NavigationTestSupport.h"
#include "Quorvane/shell/AppNavigationView.h"
#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/SharedApplicationQt.h"
#include "Quorvane/shell/views/MenuView.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "outside/Dependencies/Dependencies.h"
#include "platform/qt/UserDefaults.h"

namespace {

QMenu* submenu(QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action->menu();
    }
    return nullptr;
}

TEST(ShellScreenshots, StatusMenu) {
    DependencyValues::shared().reset();
    platform::UserDefaults::standard().clear();
    platform::UserDefaults::standard().setString("orchestrator_env", "QA");
    auto delegate = std::make_shared<KelvPCSigningSceneDelegate>(std::make_shared<SharedApplicationQt>());
    delegate->buildStatusMenu();
    QMenu* menu = delegate->statusMenu();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(testsupport::saveScreenshot(*menu, "status-menu", menu->sizeHint()));
    menu->hide();
    for (const auto& [title, name] :
         {std::pair{"App Versions File Location", "status-menu-app-versions-locations"},
          std::pair{"Backend Environment", "status-menu-environments"}}) {
        QMenu* choices = submenu(menu, title);
        ASSERT_TRUE(choices);
        EXPECT_TRUE(testsupport::saveScreenshot(*choices, name, choices->sizeHint()));
        choices->hide();
    }
    // The flow items as they look while the window is busy.
    for (QAction* item : delegate->exclusiveProcessesMenuItems())
        item->setEnabled(false);
    EXPECT_TRUE(testsupport::saveScreenshot(*menu, "status-menu-busy", menu->sizeHint()));
    menu->hide();
    DependencyValues::shared().reset();
}

TEST(ShellScreenshots, MainWindow) {
    MainWindow window(
        [](const AppOpenMode&) { return new MenuView(std::make_shared<MenuViewModel>(nullptr)); });
    window.setContent(AppOpenMode::menu());
    EXPECT_TRUE(testsupport::saveScreenshot(window, "main-window-empty"));
}

TEST(ShellScreenshots, AboutPanel) {
    SharedApplicationQt application;
    application.orderFrontStandardAboutPanel();
    QMessageBox* panel = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            panel = box;
    }
    ASSERT_TRUE(panel);
    EXPECT_TRUE(testsupport::saveScreenshot(*panel, "about-panel", panel->sizeHint()));
    panel->close();
}

TEST(ShellScreenshots, NavigationPages) {
    using navtest::NavigationRig;
    struct Page {
        std::string name;
        AppOpenMode mode;
        std::function<void(NavigationRig&, AppNavigationViewModel&)> reach;
    };
    const std::vector<Page> pages = {
        {"navigation-launch-agent", AppOpenMode::sign(SigningRequestType::overXPC()),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.launchAgent->enabled = false;
             model.restart();
         }},
        {"navigation-reading-cards", AppOpenMode::accountInfo(),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.reader->holdReadings = true;
             model.handleMethodSelectionResult(AuthenticationMethodSelectionResult::success(
                 {"auth-1", halcyra::AuthenticationMethod::eid}));
         }},
        {"navigation-validation-error", AppOpenMode::accountInfo(),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.facade->script =
                 std::vector{AuthenticateFlowEvent::error(halcyra::HalcyraError::backendError(
                     404, {"4f1c-22ab", "9e0d-7c31"}, "The authentication session was not found.", {}))};
             model.handleCardSelected(navtest::card("card-1", rig.log), "auth-1");
         }},
        {"navigation-not-eligible", AppOpenMode::getCertificate(true),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.remote->accountStatus.canSign = false;
             rig.remote->accountStatus.cannotSignReasonCode = 3;
             rig.store->storedSession = navtest::session("card-1", "server-1");
             model.handleCardSelected(navtest::card("card-1", rig.log), "auth-1");
         }},
    };
    for (const auto& page : pages) {
        for (const auto& [suffix, dark, scale] :
             {std::tuple{"", false, 1.0}, std::tuple{"-dark", true, 1.0}, std::tuple{"-large", false, 2.0}}) {
            SCOPED_TRACE(page.name + suffix);
            testsupport::ScopedFontScale font(scale);
            NavigationRig rig;
            MainWindow& window = rig.useMainWindow();
            if (dark)
                window.setPalette(testsupport::darkPalette());
            rig.controller.show(page.mode);
            rig.settle();
            auto* view = dynamic_cast<AppNavigationView*>(window.centralWidget());
            ASSERT_TRUE(view);
            page.reach(rig, *view->model());
            rig.settle();
            EXPECT_TRUE(testsupport::saveScreenshot(window, page.name + suffix));
            rig.reader->release();
        }
    }
}

}  // namespace
