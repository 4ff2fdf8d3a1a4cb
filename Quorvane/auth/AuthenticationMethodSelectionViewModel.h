#pragma once
// The first step of every authentication the window starts for a certificate or for the account screen.
// Each time its screen is shown it runs, in order: the update check (a forced update, or a suggested one
// that was not postponed, shows the update dialog and waits for it to close), optionally the re-validation
// of the stored sessions, and the server's list of authentication methods. It then picks the method by the
// settings, lets the holder choose, or fails; the result goes to methodSelectionCompleted, at most once per
// run.
//
// Main thread only; made with std::make_shared (a run holds the model until it ends).
#include <QCoroTask>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AuthenticationMethodSelectionModalState.h"
#include "AuthenticationMethodSelectionResult.h"
#include "AuthenticationMethodSelectionViewState.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Observable.h"
#include "platform/Scheduler.h"

// A method's display title: "Authenticate with eID", "Log in through Civaro".
std::string title(halcyra::AuthenticationMethod method);

class AuthenticationMethodSelectionViewModel
    : public Observable,
      public std::enable_shared_from_this<AuthenticationMethodSelectionViewModel> {
  public:
    using MethodSelectionCompleted = std::function<void(AuthenticationMethodSelectionResult result)>;

    // `doneRequested` is the done button's: it closes the window, and no result is delivered.
    AuthenticationMethodSelectionViewModel(
        std::string titleText, std::optional<std::string> doneButtonText, bool validateAuthenticatedAccounts,
        MethodSelectionCompleted methodSelectionCompleted,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
        std::function<void()> doneRequested = nullptr);
    AuthenticationMethodSelectionViewModel(const AuthenticationMethodSelectionViewModel&) = delete;
    AuthenticationMethodSelectionViewModel& operator=(const AuthenticationMethodSelectionViewModel&) = delete;

    const std::string titleText;
    // None: the screen's done button says "Done".
    const std::optional<std::string> doneButtonText;
    const MethodSelectionCompleted methodSelectionCompleted;
    const std::function<void()> doneRequested;
    // Re-validate the stored sessions before asking for methods.
    const bool validateAuthenticatedAccounts;

    // Observed.
    const AuthenticationMethodSelectionViewState& viewState() const { return viewState_; }
    const std::optional<AuthenticationMethodSelectionModalState>& currentModalState() const {
        return currentModalState_;
    }
    // The settings sheet opens and closes through this; the update dialog closes through
    // continueAfterUpdateDialog().
    void setCurrentModalState(std::optional<AuthenticationMethodSelectionModalState> state);

    // The whole sequence: update check, session validation, method fetch and decision.
    QCoro::Task<> onAppear();
    // The update dialog asks to close: the dialog goes, and the sequence goes on after the update check.
    void continueAfterUpdateDialog();
    // The holder chose a listed method: success with the listed session.
    void selectMethod(halcyra::AuthenticationMethod method);
    // The done button.
    void done() const;

  private:
    enum class UpdateCheck { proceed, stop };
    static QCoro::Task<> run(std::shared_ptr<AuthenticationMethodSelectionViewModel> self,
                             bool checkForUpdate);
    static QCoro::Task<UpdateCheck> checkForUpdate(
        std::shared_ptr<AuthenticationMethodSelectionViewModel> self);
    static QCoro::Task<> validateAuthenticatedSessions(
        std::shared_ptr<AuthenticationMethodSelectionViewModel> self);
    static QCoro::Task<> fetchAuthenticationMethods(
        std::shared_ptr<AuthenticationMethodSelectionViewModel> self);
    void complete(AuthenticationMethodSelectionResult result) const;

    AuthenticationMethodSelectionViewState viewState_;
    std::optional<AuthenticationMethodSelectionModalState> currentModalState_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    Dependency<AppSettingsKey> _appSettings;
    Dependency<AppVersionsKey> _appVersions;
    Dependency<AuthenticateAPIClientKey> _authenticateAPIClient;
    Dependency<LoggerClientKey> _logger;
    Dependency<RemoteSigningAPIClientKey> _remoteSigningAPIClient;
    Dependency<SigningSessionDatabaseKey> _signingSessionDatabase;
};
