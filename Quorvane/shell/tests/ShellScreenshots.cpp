// Renders of the shell's own surfaces: the status menu with its two choice submenus, the main window as it
// opens, and the About panel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/SharedApplicationQt.h"
#include "Quorvane/shell/views/MenuView.h"
#include "Quorvane/testing/Screenshot.h"
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

}  // namespace
