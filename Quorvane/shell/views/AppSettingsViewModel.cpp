#include "AppSettingsViewModel.h"

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/LaunchAgentService.h"

std::shared_ptr<AppSettingsViewModel> AppSettingsViewModel::make(
    std::function<void()> closeRequested, std::shared_ptr<platform::Scheduler> scheduler) {
    std::shared_ptr<AppSettingsViewModel> model(new AppSettingsViewModel(std::move(closeRequested)));
    scheduler->post([model] { model->fetchReleaseInfo(); });
    return model;
}

AppSettingsViewModel::AppSettingsViewModel(std::function<void()> closeRequested)
    : closeRequested(std::move(closeRequested)) {
    auto settings = _appSettings.get();
    authenticationMethodSelectionMode_ = settings->authenticationMethodSelectionMode();
    externalCertificateRetrievalDisablingEnabled_ = settings->externalCertificateRetrievalDisabled();
    privacyModeEnabled_ = settings->privacyModeEnabled();
    isLaunchAgentEnabled_ = _launchAgentService->isServiceEnabled();
}

void AppSettingsViewModel::setExternalCertificateRetrievalDisabled(bool value) {
    setObserved(externalCertificateRetrievalDisablingEnabled_, value);
    _appSettings->setExternalCertificateRetrievalDisabled(value);
}

void AppSettingsViewModel::setPrivacyModeEnabled(bool value) {
    setObserved(privacyModeEnabled_, value);
    _appSettings->setPrivacyModeEnabled(value);
}

void AppSettingsViewModel::selectAuthenticationMethodSelectionMode(AuthenticationMethodSelectionMode mode) {
    setObserved(authenticationMethodSelectionMode_, mode);
    _appSettings->setAuthenticationMethodSelectionMode(mode);
}

void AppSettingsViewModel::setLaunchAgentEnabled(bool enabled) {
    auto service = _launchAgentService.get();
    if (enabled)
        service->registerService();
    else
        service->unregisterService();
    const bool nowEnabled = service->isServiceEnabled();
    setObserved(launchAgentEnableFailed_, enabled && !nowEnabled);
    setObserved(isLaunchAgentEnabled_, nowEnabled);
}

QCoro::Task<> AppSettingsViewModel::fetchReleaseInfo() {
    return fetchReleaseInfo(shared_from_this());
}

QCoro::Task<> AppSettingsViewModel::fetchReleaseInfo(std::shared_ptr<AppSettingsViewModel> self) {
    auto appVersions = self->_appVersions.get();
    auto release = co_await appVersions->fetchRelease();
    self->setObserved(self->releaseInfoFetchState_,
                      AppSettingsReleaseInfoFetchState::fetched(std::move(release)));
}
