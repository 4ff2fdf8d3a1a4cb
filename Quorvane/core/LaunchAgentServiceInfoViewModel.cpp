#include "Quorvane/core/LaunchAgentServiceInfoViewModel.h"

LaunchAgentServiceInfoViewModel::LaunchAgentServiceInfoViewModel(
    std::function<void()> launchAgentEnabled, std::shared_ptr<LaunchAgentService> launchAgentService,
    std::shared_ptr<platform::Scheduler> scheduler, MainWindowController& mainWindowController)
    : launchAgentEnabled_(std::move(launchAgentEnabled)),
      launchAgentService_(std::move(launchAgentService)),
      mainWindowController_(mainWindowController),
      self_(std::make_shared<LaunchAgentServiceInfoViewModel*>(this)) {
    std::weak_ptr<LaunchAgentServiceInfoViewModel*> weakSelf = self_;
    monitoringTimer_ = scheduler->scheduleRepeating(statusCheckInterval, [weakSelf] {
        if (auto self = weakSelf.lock())
            (*self)->checkStatus();
    });
}

LaunchAgentServiceInfoViewModel::~LaunchAgentServiceInfoViewModel() {
    // A repeating timer would otherwise keep firing for the rest of the app's life.
    if (monitoringTimer_)
        monitoringTimer_->invalidate();
}

void LaunchAgentServiceInfoViewModel::checkStatus() {
    bool wasEnabled = isLaunchAgentEnabled_;
    setObserved(isLaunchAgentEnabled_, launchAgentService_->isServiceEnabled());
    if (!isLaunchAgentEnabled_ || wasEnabled)
        return;

    // The user has just enabled the agent (in another application): come back to the front.
    if (auto window = mainWindowController_.window)
        window->makeKeyAndOrderFront();
    if (auto application = mainWindowController_.application) {
        application->setActivationPolicy(MainWindowController::ActivationPolicy::regular);
        application->activate(true);
    }
    // One continuation is enough: watching on would continue again after every disable and enable.
    stopMonitoring();
    continueNavigation();
}

void LaunchAgentServiceInfoViewModel::continueTapped() {
    stopMonitoring();
    continueNavigation();
}

void LaunchAgentServiceInfoViewModel::stopMonitoring() {
    if (monitoringTimer_)
        monitoringTimer_->invalidate();
    setObserved(monitoringTimer_, nullptr);
}

void LaunchAgentServiceInfoViewModel::continueNavigation() {
    // The navigation may replace this page and release the model while the closure runs: call a copy, and
    // touch nothing of the model afterwards.
    auto launchAgentEnabled = launchAgentEnabled_;
    if (launchAgentEnabled)
        launchAgentEnabled();
}
