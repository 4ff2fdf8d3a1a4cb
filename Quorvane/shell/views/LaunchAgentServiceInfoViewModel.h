#pragma once
// The page shown in place of the signing screen while the signature relay's launch agent is not enabled. It
// checks the agent's status once a second and goes on by itself as soon as the user has enabled it.
//
// Main thread only. The status watch stops at that continuation, at "Continue", and when the model goes away.
#include <functional>
#include <memory>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/Observable.h"
#include "platform/Scheduler.h"

class LaunchAgentServiceInfoViewModel : public Observable {
  public:
    static constexpr std::chrono::milliseconds statusCheckInterval{1000};

    // `launchAgentEnabled` continues the navigation once the user may go on; it may release this model.
    // Without a service of its own, each check asks the app's launch-agent service of the moment.
    explicit LaunchAgentServiceInfoViewModel(
        std::function<void()> launchAgentEnabled,
        std::shared_ptr<LaunchAgentService> launchAgentService = nullptr,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
        MainWindowController& mainWindowController = MainWindowController::shared());
    ~LaunchAgentServiceInfoViewModel() override;
    LaunchAgentServiceInfoViewModel(const LaunchAgentServiceInfoViewModel&) = delete;
    LaunchAgentServiceInfoViewModel& operator=(const LaunchAgentServiceInfoViewModel&) = delete;

    // Observed: the status seen by the last check.
    bool isLaunchAgentEnabled() const { return isLaunchAgentEnabled_; }
    // Observed: the running status watch; none once it stopped.
    const std::shared_ptr<platform::Timer>& monitoringTimer() const { return monitoringTimer_; }

    // One status check; when the agent has just become enabled, brings the app forward and continues.
    void checkStatus();
    // "Continue": stops the status watch and continues.
    void continueTapped();

  private:
    void stopMonitoring();
    void stopMonitoringAndContinue();

    bool isLaunchAgentEnabled_ = false;
    std::function<void()> launchAgentEnabled_;
    std::shared_ptr<platform::Timer> monitoringTimer_;
    std::shared_ptr<LaunchAgentService> launchAgentService_;
    Dependency<LaunchAgentServiceKey> _launchAgentService;
    MainWindowController& mainWindowController_;
    // What the timer's action holds weakly; it points at the model until the model is destroyed, so a late
    // tick does nothing.
    std::shared_ptr<LaunchAgentServiceInfoViewModel*> self_;
};
