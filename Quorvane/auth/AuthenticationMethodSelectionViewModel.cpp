#include "AuthenticationMethodSelectionViewModel.h"

#include <algorithm>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "api/Clients.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/qt/Localizable.h"

using halcyra::AuthenticationMethod;
using halcyra::AuthenticationMethodsResponse;
using Self = std::shared_ptr<AuthenticationMethodSelectionViewModel>;

namespace {

AppError noValidMethods() {
    return AppError(ErrorCodeCategory::app, std::nullopt, "2500",
                    L("Could not retrieve valid authentication methods."), std::nullopt);
}

}  // namespace

std::string title(AuthenticationMethod method) {
    switch (method) {
        case AuthenticationMethod::eid:
            return L("Authenticate with eID");
        case AuthenticationMethod::wallet:
            return L("Log in through Civaro");
    }
    return {};
}

AuthenticationMethodSelectionViewModel::AuthenticationMethodSelectionViewModel(
    std::string titleText, std::optional<std::string> doneButtonText, bool validateAuthenticatedAccounts,
    MethodSelectionCompleted methodSelectionCompleted, std::shared_ptr<platform::Scheduler> scheduler,
    std::function<void()> doneRequested)
    : titleText(std::move(titleText)),
      doneButtonText(std::move(doneButtonText)),
      methodSelectionCompleted(std::move(methodSelectionCompleted)),
      doneRequested(std::move(doneRequested)),
      validateAuthenticatedAccounts(validateAuthenticatedAccounts),
      viewState_(
          AuthenticationMethodSelectionViewState::loading(L("Checking available authentication methods..."))),
      scheduler_(std::move(scheduler)) {}

void AuthenticationMethodSelectionViewModel::setCurrentModalState(
    std::optional<AuthenticationMethodSelectionModalState> state) {
    setObserved(currentModalState_, std::move(state));
}

QCoro::Task<> AuthenticationMethodSelectionViewModel::onAppear() {
    return run(shared_from_this(), true);
}

void AuthenticationMethodSelectionViewModel::done() const {
    if (doneRequested)
        doneRequested();
}

void AuthenticationMethodSelectionViewModel::continueAfterUpdateDialog() {
    setObserved(currentModalState_, std::nullopt);
    scheduler_->post([self = shared_from_this()] { run(self, false); });
}

void AuthenticationMethodSelectionViewModel::selectMethod(AuthenticationMethod method) {
    if (viewState_.kind != AuthenticationMethodSelectionViewState::Kind::selection)
        return;
    complete(AuthenticationMethodSelectionResult::success({viewState_.sessionId, method}));
}

void AuthenticationMethodSelectionViewModel::complete(AuthenticationMethodSelectionResult result) const {
    // The owner may let go of this model from inside: call a copy.
    auto completed = methodSelectionCompleted;
    if (completed)
        completed(std::move(result));
}

QCoro::Task<> AuthenticationMethodSelectionViewModel::run(Self self, bool withUpdateCheck) {
    if (withUpdateCheck) {
        const UpdateCheck check = co_await checkForUpdate(self);
        if (check == UpdateCheck::stop)
            co_return;
    }
    if (self->validateAuthenticatedAccounts)
        co_await validateAuthenticatedSessions(self);
    co_await fetchAuthenticationMethods(self);
}

QCoro::Task<AuthenticationMethodSelectionViewModel::UpdateCheck>
AuthenticationMethodSelectionViewModel::checkForUpdate(Self self) {
    auto appVersions = self->_appVersions.get();
    const auto release = co_await appVersions->fetchRelease();
    if (!release || !release->autoUpgrade)
        co_return UpdateCheck::proceed;
    switch (updateKind(*release)) {
        case AppUpdateKind::forced:
            break;
        case AppUpdateKind::suggested: {
            // A reminder date that is now or later postpones the suggestion.
            const auto remindAfter = self->_appSettings->dateForNextSuggestedUpdateDialog();
            if (remindAfter && !(self->scheduler_->now() > *remindAfter))
                co_return UpdateCheck::proceed;
            break;
        }
        case AppUpdateKind::updateAvailable:
        case AppUpdateKind::upToDate:
            co_return UpdateCheck::proceed;
    }
    self->setObserved(self->currentModalState_,
                      AuthenticationMethodSelectionModalState::updateInformation(*release));
    co_return UpdateCheck::stop;
}

QCoro::Task<> AuthenticationMethodSelectionViewModel::validateAuthenticatedSessions(Self self) {
    auto store = self->_signingSessionDatabase.get();
    store->purgeExpiredSessionsAndTokens();
    const auto sessions = store->authenticatedSessions();
    for (const auto& session : sessions) {
        self->_logger->info("Validating account status for session Internal ID: " +
                            session.internalSessionId);
        auto client = self->_remoteSigningAPIClient.get();
        std::optional<halcyra::AccountStatus> status;
        try {
            const halcyra::AccountStatusDetails details =
                co_await client->getAccountStatus(session.orchestratorSessionId);
            status = details.status;
        } catch (const std::exception&) {
            // The server could not tell: the session is kept.
            continue;
        }
        if (status == halcyra::AccountStatus::active)
            continue;
        self->_logger->info("Account is not active, purging session and persistent token");
        store->purgeSessionAndToken(session.internalSessionId);
    }
}

QCoro::Task<> AuthenticationMethodSelectionViewModel::fetchAuthenticationMethods(Self self) {
    const std::string clientData = self->_signingSessionDatabase->clientData();
    const auto level = self->_appSettings->hasOnboardedAtLeastOnce() ? halcyra::LevelOfAssurance::substantial
                                                                     : halcyra::LevelOfAssurance::high;
    auto client = self->_authenticateAPIClient.get();
    std::optional<AuthenticationMethodsResponse> response;
    std::optional<halcyra::HalcyraError> failure;
    try {
        response = co_await client->getAuthenticationMethods(clientData, level);
    } catch (const halcyra::HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        failure = halcyra::HalcyraError::otherError(error.what());
    }
    if (failure) {
        self->complete(AuthenticationMethodSelectionResult::failure(
            AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::meansHandling, "500",
                     ErrorCodeWrap::message(*failure), *failure)));
        co_return;
    }
    const auto& methods = response->methods;
    if (methods.empty()) {
        self->complete(AuthenticationMethodSelectionResult::failure(noValidMethods()));
        co_return;
    }

    auto select = [&] {
        self->setObserved(self->viewState_,
                          AuthenticationMethodSelectionViewState::selection(response->sessionId, methods));
    };
    auto succeed = [&](AuthenticationMethod method) {
        self->complete(AuthenticationMethodSelectionResult::success({response->sessionId, method}));
    };
    std::optional<AuthenticationMethod> always;
    switch (self->_appSettings->authenticationMethodSelectionMode()) {
        case AuthenticationMethodSelectionMode::manual:
            if (methods.size() == 1 && !methods.front().disabled)
                succeed(methods.front().method);
            else
                select();
            co_return;
        case AuthenticationMethodSelectionMode::alwaysEID:
            always = AuthenticationMethod::eid;
            break;
        case AuthenticationMethodSelectionMode::alwaysWallet:
            always = AuthenticationMethod::wallet;
            break;
    }
    const auto first = std::find_if(methods.begin(), methods.end(),
                                    [&](const auto& entry) { return entry.method == *always; });
    if (first == methods.end())
        self->complete(AuthenticationMethodSelectionResult::failure(noValidMethods()));
    else if (first->disabled)
        select();
    else
        succeed(*always);
}
