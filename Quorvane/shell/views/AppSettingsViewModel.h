#pragma once
// The settings screen: the three preferences, stored the moment they change and read afresh whenever the
// screen is made; whether the signature relay's service is on, switched through the launch-agent service;
// and one update check per screen for its "About" section.
//
// Main thread only. Made with make(): the update check runs in a task posted when the model is made, which
// keeps the model until it has finished, even when the screen was closed before.
#include <QCoroTask>
#include <functional>
#include <memory>

#include "AppSettingsReleaseInfoFetchState.h"
#include "Quorvane/core/AuthenticationMethodSelectionMode.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Observable.h"
#include "platform/Scheduler.h"

class AppSettingsViewModel : public Observable, public std::enable_shared_from_this<AppSettingsViewModel> {
  public:
    // `closeRequested` is the "Done" button: it closes the window or the sheet the screen is shown in.
    static std::shared_ptr<AppSettingsViewModel> make(
        std::function<void()> closeRequested,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
    AppSettingsViewModel(const AppSettingsViewModel&) = delete;
    AppSettingsViewModel& operator=(const AppSettingsViewModel&) = delete;

    // Observed.
    AuthenticationMethodSelectionMode authenticationMethodSelectionMode() const {
        return authenticationMethodSelectionMode_;
    }
    bool externalCertificateRetrievalDisablingEnabled() const {
        return externalCertificateRetrievalDisablingEnabled_;
    }
    bool privacyModeEnabled() const { return privacyModeEnabled_; }
    const AppSettingsReleaseInfoFetchState& releaseInfoFetchState() const { return releaseInfoFetchState_; }
    bool isLaunchAgentEnabled() const { return isLaunchAgentEnabled_; }
    // True after switching the service on left it off (the reason is in the app's log).
    bool launchAgentEnableFailed() const { return launchAgentEnableFailed_; }

    void setExternalCertificateRetrievalDisabled(bool value);
    // Stores the value; switching it on starts the session store's 900 s privacy purge unless it runs.
    void setPrivacyModeEnabled(bool value);
    // The picker's choice: shown, then stored, also when it equals the current value (an unknown stored text
    // is overwritten by a valid one).
    void selectAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode mode);
    // Registers or unregisters the relay's launch agent, then shows its status as it now is.
    void setLaunchAgentEnabled(bool enabled);

    // The update check: fetched once, never back to fetching.
    QCoro::Task<> fetchReleaseInfo();

    const std::function<void()> closeRequested;

  private:
    explicit AppSettingsViewModel(std::function<void()> closeRequested);
    static QCoro::Task<> fetchReleaseInfo(std::shared_ptr<AppSettingsViewModel> self);

    AuthenticationMethodSelectionMode authenticationMethodSelectionMode_ =
        AuthenticationMethodSelectionMode::manual;
    bool externalCertificateRetrievalDisablingEnabled_ = false;
    bool privacyModeEnabled_ = false;
    AppSettingsReleaseInfoFetchState releaseInfoFetchState_ = AppSettingsReleaseInfoFetchState::fetching();
    bool isLaunchAgentEnabled_ = false;
    bool launchAgentEnableFailed_ = false;
    Dependency<AppSettingsKey> _appSettings;
    Dependency<AppVersionsKey> _appVersions;
    Dependency<LaunchAgentServiceKey> _launchAgentService;
};
