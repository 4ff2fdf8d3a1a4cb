#include "Quorvane/shell/views/LaunchAgentServiceInfoViewModel.h"

LaunchAgentServiceInfoViewModel::LaunchAgentServiceInfoViewModel(
    std::function<void()> launchAgentEnabled, std::shared_ptr<LaunchAgentService> launchAgentService,
    std::shared_ptr<platform::Scheduler> scheduler, MainWindowController& mainWindowController)
    : launchAgentEnabled_(std::move(launchAgentEnabled)),
      launchAgentService_(std::move(launchAgentService)),
      mainWindowController_(mainWindowController),
      self_(std::make_shared<LaunchAgentServiceInfoViewModel*>(this)) {
    std::weak_ptr<LaunchAgentServiceInfoViewModel*> weakSelf = self_;
    monitoringTimer_ = scheduler->scheduleRepeating(statusCheckInterval, [weakSelf] {
        if (auto self = weakSelf.lock(); self && *self)
            (*self)->checkStatus();
    });
}

LaunchAgentServiceInfoViewModel::~LaunchAgentServiceInfoViewModel() {
    // A repeating timer would otherwise keep firing for the rest of the app's life.
    if (monitoringTimer_)
        monitoringTimer_->invalidate();
    // Whoever still holds the holder (a tick that is running) sees that the model is gone.
    *self_ = nullptr;
}

void LaunchAgentServiceInfoViewModel::checkStatus() {
    const bool wasEnabled = isLaunchAgentEnabled_;
    auto service = launchAgentService_ ? launchAgentService_ : _launchAgentService.get();
    const bool enabled = service->isServiceEnabled();
    // A subscriber may let the page go when told of the change; then there is nothing left to do here.
    const auto alive = self_;
    setObserved(isLaunchAgentEnabled_, enabled);
    if (!*alive || !enabled || wasEnabled)
        return;

    // The user has just enabled the agent (in another application): come back to the front.
    if (auto window = mainWindowController_.window)
        window->makeKeyAndOrderFront();
    if (auto application = mainWindowController_.application) {
        application->setActivationPolicy(MainWindowController::ActivationPolicy::regular);
        application->activate(true);
    }
    // One continuation is enough: watching on would continue again after every disable and enable.
    stopMonitoringAndContinue();
}

void LaunchAgentServiceInfoViewModel::continueTapped() {
    stopMonitoringAndContinue();
}

void LaunchAgentServiceInfoViewModel::stopMonitoring() {
    if (monitoringTimer_)
        monitoringTimer_->invalidate();
    setObserved(monitoringTimer_, nullptr);
}

void LaunchAgentServiceInfoViewModel::stopMonitoringAndContinue() {
    // Telling the subscribers that the watch stopped, and the continuation itself, may release the model:
    // call a copy of the closure, and touch nothing of the model afterwards.
    auto launchAgentEnabled = launchAgentEnabled_;
    stopMonitoring();
    if (launchAgentEnabled)
        launchAgentEnabled();
}
