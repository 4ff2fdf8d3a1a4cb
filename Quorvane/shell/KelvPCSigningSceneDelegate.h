#pragma once
// The application delegate: the status-bar agent. At launch it registers the signature relay's launch agent,
// tidies the session store, puts up the status item with its menu and follows the main window's opening and
// closing. Each activation may open the main window in menu mode after a short delay; deep links and the
// status menu's actions arrive here too; on termination expired sessions are purged.
//
// Main thread only. Made with std::make_shared; it lives for the whole process.
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/MainWindowController.h"
#include "SharedApplication.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"

class KelvPCSigningSceneDelegate : public std::enable_shared_from_this<KelvPCSigningSceneDelegate> {
  public:
    static constexpr std::chrono::milliseconds appMenuShowDelay{500};
    static constexpr std::chrono::milliseconds aboutPanelDelay{1000};
    // The error a bulk callback gets while the main window is busy; spelled as the callers expect it.
    static constexpr const char* bulkBusyError = "Fordidden";

    explicit KelvPCSigningSceneDelegate(
        std::shared_ptr<SharedApplication> application,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
        MainWindowController& mainWindowController = MainWindowController::shared());
    ~KelvPCSigningSceneDelegate();
    KelvPCSigningSceneDelegate(const KelvPCSigningSceneDelegate&) = delete;
    KelvPCSigningSceneDelegate& operator=(const KelvPCSigningSceneDelegate&) = delete;

    // --- The application's callbacks

    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    void applicationWillTerminate();
    // Deep links: only the first URL of a call is acted on.
    void openURLs(const std::vector<std::string>& urls);
    // The app was started again without a link: its main window comes to the front, in menu mode when it is
    // not on screen. Unlike an activation this does not depend on whether the desktop still counts the app
    // as active, nor on a status area to reach it from.
    void applicationShouldHandleReopen();

    // --- The status menu

    // Makes the status item where the desktop has a status area, and builds the menu either way.
    void setUpStatusItem();
    // Builds the menu afresh, with check marks on the stored choices, and gives it to the status item.
    void buildStatusMenu();

    void retrieveRemoteSignCertificateMenuItemUsed();
    void accountInfoMenuItemUsed();
    void settingsMenuItemUsed();
    void showAppLogsFolderItemUsed();
    void showServiceLogsFolderItemUsed();
    void setAppVersionsFileLocationItemused(QAction* sender);
    void setEnvironmentItemUsed(QAction* sender);
    void aboutItemUsed();
    void quitItemUsed();
    void purgeItemUsed();

    // The menu of the moment (also without a status area), and the status item where there is one.
    QMenu* statusMenu() const { return statusMenu_; }
    QSystemTrayIcon* statusItem() const { return statusItem_; }
    // The three flow items, disabled while the main window is busy.
    const std::vector<QAction*>& exclusiveProcessesMenuItems() const { return exclusiveProcessesMenuItems_; }

    // --- State

    bool appHasBeenOpenedFromStatusBarMenuOrDeeplink() const {
        return appHasBeenOpenedFromStatusBarMenuOrDeeplink_;
    }
    bool appMenuHasBeenHandled() const { return appMenuHasBeenHandled_; }
    const std::shared_ptr<platform::Timer>& appMenuShowTimer() const { return appMenuShowTimer_; }

    // Where the signature relay writes its log.
    static std::filesystem::path serviceLogsFolder();

  private:
    void handleOpenedURL(const std::vector<std::string>& urls);
    void handleBulkSigningRequest(const std::string& url);
    void handleCertificateRequest();
    void mainWindowDidOpen();
    void mainWindowWillClose();
    void showFromStatusMenu(AppOpenMode mode);
    // Work of the delegate's own, run after the current event (a "task"). The delegate lives as long as the
    // process; the work is held weakly only so that a delegate made by a test can go.
    template <class Work>
    void post(Work work);
    QAction* addMenuItem(QMenu* menu, const std::string& title, char key,
                         void (KelvPCSigningSceneDelegate::*action)());

    Dependency<AppSettingsKey> _appSettings;
    Dependency<AppVersionsFileLocationSelectionKey> _appVersionsFileSelection;
    Dependency<LaunchAgentServiceKey> _launchAgentService;
    Dependency<LoggerClientKey> _logger;
    Dependency<HalcyraEnvironmentSelectionKey> _halcyraEnvironmentSelection;
    Dependency<PluginClientKey> _pluginClient;
    Dependency<SigningSessionDatabaseKey> _signingSessionDatabase;

    std::shared_ptr<SharedApplication> application_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    MainWindowController& mainWindowController_;

    std::vector<QAction*> exclusiveProcessesMenuItems_;
    QPointer<QSystemTrayIcon> statusItem_;
    QPointer<QMenu> statusMenu_;
    std::shared_ptr<platform::Timer> appMenuShowTimer_;
    bool appHasBeenOpenedFromStatusBarMenuOrDeeplink_ = false;
    bool appMenuHasBeenHandled_ = false;
    platform::NotificationCenter::Observation didOpenObservation_;
    platform::NotificationCenter::Observation willCloseObservation_;
};
