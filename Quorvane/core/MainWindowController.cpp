#include "Quorvane/core/MainWindowController.h"

#include "PluginClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/NotificationCenter.h"

MainWindowController::~MainWindowController() {
    if (window)
        window->willClose = nullptr;
}

MainWindowController& MainWindowController::shared() {
    static MainWindowController* controller = new MainWindowController;  // lives as long as the app
    return *controller;
}

void MainWindowController::show(const AppOpenMode& mode) {
    _logger.get()->info("UI requested with mode: " + mode.description());
    // New content would drop the running flow without a word to whoever asked for it (a bulk callback never
    // opened, a token left waiting): end it as a close does.
    if (isBusy())
        close(false);
    lastShownMode_ = mode;
    if (!window) {
        if (!makeWindow)
            return;
        window = makeWindow();
    }
    window->setContent(mode);
    window->willClose = [this] { windowWillClose(); };
    window->makeKeyAndOrderFront();
    platform::NotificationCenter::defaultCenter().post(mainWindowDidOpenNotification);
    if (application) {
        application->setActivationPolicy(ActivationPolicy::regular);
        application->activate(true);
    }
}

void MainWindowController::close(bool ignoringWillCloseSignal) {
    // Qt delivers close events to hidden windows too; a window that is not on screen has nothing to close,
    // and closing it again would tell the plug-in that a retrieval ended which has not even begun.
    if (!window || !window->isVisible())
        return;
    ignoreWillCloseNotificationForCertificateRetrievalCompletionNotification_ = ignoringWillCloseSignal;
    window->close();
}

void MainWindowController::windowWillClose() {
    platform::NotificationCenter::defaultCenter().post(mainWindowWillCloseNotification);
    if (application)
        application->setActivationPolicy(ActivationPolicy::accessory);
    if (ignoreWillCloseNotificationForCertificateRetrievalCompletionNotification_) {
        ignoreWillCloseNotificationForCertificateRetrievalCompletionNotification_ = false;
        _logger.get()->info(
            "UI closing, but flag to ignore will close notification for certificate retrieval completion "
            "signal was set, so skipping");
        return;
    }
    _logger.get()->info("UI closing, sending certificate retrieval completion signal just in case");
    _pluginClient.get()->signalCertificateRetrieved();
}

bool MainWindowController::isBusy() const {
    return window && window->isVisible() && lastShownMode_ && !lastShownMode_->is<AppOpenMode::Menu>() &&
           !lastShownMode_->is<AppOpenMode::Settings>();
}
