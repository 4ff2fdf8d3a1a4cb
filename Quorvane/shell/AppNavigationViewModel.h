#pragma once
// The root model of the main window, one per showing: it picks the first screen for the open mode, runs the
// choice of method, the card reading and the wallet login, validates the account against the server, and
// moves on when the screens it hands out report back. It makes the model of each screen it shows, with the
// completions that lead back here; the window only maps that model to its widget. When a flow has nothing
// more to show, it closes the window.
//
// Main thread only. Made with make(); its start runs in a task posted then, which holds it until it ends, as
// do the other tasks it starts. Callbacks it hands out hold it weakly. Once the window has let it go (end()),
// its tasks stop at their next step and its callbacks do nothing, so that a flow left behind never acts on
// the window that has moved on.
#include <QCoroTask>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "AppNavigationTarget.h"
#include "AppNavigationViewModalState.h"
#include "Quorvane/account/AccountCreationViewModel.h"
#include "Quorvane/account/AccountInfoViewModel.h"
#include "Quorvane/auth/AuthenticationMethodSelectionViewModel.h"
#include "Quorvane/auth/AuthenticationSheets.h"
#include "Quorvane/auth/CardSelectionViewModel.h"
#include "Quorvane/core/AppError.h"
#include "Quorvane/core/AppOpenMode.h"
#include "Quorvane/core/AuthenticationContext.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Flow.h"
#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "Quorvane/shell/views/AppSettingsViewModel.h"
#include "Quorvane/shell/views/InfoViewModel.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoViewModel.h"
#include "Quorvane/shell/views/MenuViewModel.h"
#include "Quorvane/signing/CertificateRetrievalViewModel.h"
#include "Quorvane/signing/SigningViewModel.h"
#include "api/Authentication.h"
#include "platform/Scheduler.h"

class AppNavigationViewModel : public Observable,
                               public PinInputAwareViewModel,
                               public WalletTrackingAwareViewModel<AppNavigationViewModalState>,
                               public std::enable_shared_from_this<AppNavigationViewModel> {
  public:
    using ModalState = AppNavigationViewModalState;
    // The model of the screen for the current target, one case per target.
    using Screen =
        std::variant<std::shared_ptr<AccountCreationViewModel>, std::shared_ptr<AccountInfoViewModel>,
                     std::shared_ptr<CardSelectionViewModel>, std::shared_ptr<CertificateRetrievalViewModel>,
                     std::shared_ptr<InfoViewModel>, std::shared_ptr<SigningViewModel>,
                     std::shared_ptr<LaunchAgentServiceInfoViewModel>, std::shared_ptr<MenuViewModel>,
                     std::shared_ptr<AuthenticationMethodSelectionViewModel>,
                     std::shared_ptr<AppSettingsViewModel>>;

    static std::shared_ptr<AppNavigationViewModel> make(
        AppOpenMode mode, std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
        MainWindowController& mainWindowController = MainWindowController::shared());
    AppNavigationViewModel(const AppNavigationViewModel&) = delete;
    AppNavigationViewModel& operator=(const AppNavigationViewModel&) = delete;

    // Observed.
    std::shared_ptr<pindle::Card> currentCard() const override { return currentCard_; }
    std::optional<ModalState> currentModalState() const override { return currentModalState_->value(); }
    void setCurrentModalState(std::optional<ModalState> state) override;
    SigningReason currentSigningReason() const override { return currentSigningReason_; }
    const AppNavigationTarget& navigationTarget() const { return navigationTarget_; }
    // Changes with every new target, so that the view builds a new screen for each.
    std::uint64_t navigationTargetRevision() const { return navigationTargetRevision_; }
    // The current target's screen model, made with the target; none (a null model) once the model has ended.
    const Screen& screen() const { return screen_; }

    // The sheet state as the sheet presenter watches it.
    const std::shared_ptr<ModalSheetState<ModalState>>& modalSheetState() const { return currentModalState_; }
    const AppOpenMode& mode() const { return mode_; }
    const std::shared_ptr<platform::Scheduler>& scheduler() const { return scheduler_; }
    MainWindowController& mainWindowController() const { return mainWindowController_; }

    // The first screen for the mode.
    void start();
    // The method-selection screen's completion.
    void handleMethodSelectionResult(AuthenticationMethodSelectionResult result);
    // The card reading or the wallet login for the chosen method.
    QCoro::Task<> startAuthentication(AuthenticationContext context);
    // The card-selection screen's completion.
    void handleCardSelected(std::shared_ptr<pindle::Card> card, std::string sessionIdentifier);

    // The PIN sheet and the wallet sheet.
    void handlePinInputEnded(bool timedOut) override;
    void handleWalletTrackingResult(WalletTrackingResult result);
    void handleWalletTrackingCancellation();
    // A new authentication session for the wallet sheet's next QR code, at the level of assurance of the
    // session it replaces; fails with halcyra::HalcyraError.
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletSession(std::string sessionId);
    // The wallet sheet's callbacks: the three above, and the scan, which ends the stored wallet session.
    void walletTrackingCompleted(WalletTrackingResult result) override {
        handleWalletTrackingResult(std::move(result));
    }
    void walletQrCodeScanned() override;
    void walletTrackingCancelled() override { handleWalletTrackingCancellation(); }
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletTracking(std::string sessionId) override {
        return refreshWalletSession(std::move(sessionId));
    }

    // The completions of the flows' screens.
    void handleAccountCreationCompleted(SigningSessionContext context, std::optional<AppError> error);
    void handleAccountCreationCancelled(SigningSessionContext context);
    void handleSigningCompleted(std::optional<AppError> error);
    void handleCertificateRetrievalCompleted(std::optional<AppError> error);

    std::shared_ptr<AuthenticationMethodSelectionViewModel> makeMethodSelectionViewModel();

    // Window actions for the screens: start over (the launch-agent page, once the agent is enabled), and
    // close the window (unless the window has let this model go meanwhile). The main menu shows the window
    // for another mode through the window controller, which replaces this model.
    void restart();
    void closeWindow();

    // The window no longer shows this model: a card waiting for a PIN is cancelled, and nothing it started
    // acts any more.
    void end();

  private:
    AppNavigationViewModel(AppOpenMode mode, std::shared_ptr<platform::Scheduler> scheduler,
                           MainWindowController& mainWindowController);

    static QCoro::Task<> startAuthentication(std::shared_ptr<AppNavigationViewModel> self,
                                             AuthenticationContext context);
    // Reuses the stored session or authenticates, then checks the account; fails with halcyra::HalcyraError.
    static QCoro::Task<> validateAccount(std::shared_ptr<AppNavigationViewModel> self,
                                         SigningSessionContext context);
    static QCoro::Task<> checkAccountStatus(std::shared_ptr<AppNavigationViewModel> self,
                                            SigningSessionContext context, SigningSession session);
    static QCoro::Task<WalletTrackingIdentifiers> refreshWalletSession(
        std::shared_ptr<AppNavigationViewModel> self);
    // The validation task: validates and turns a server error into the final message.
    static QCoro::Task<> runValidation(std::shared_ptr<AppNavigationViewModel> self,
                                       SigningSessionContext context);
    void startValidation(SigningSessionContext context);

    void setNavigationTarget(AppNavigationTarget target);
    Screen makeScreen(const AppNavigationTarget& target);
    // Closes the window on the scheduler, whatever becomes of this model: for the screens' "Done" and "OK",
    // which deliver nothing here.
    std::function<void()> windowCloser() const;
    // A completion for a screen's model: runs the handler on this model while it exists.
    template <class Handler>
    auto weakly(Handler handler);
    void showInfo(std::string message, bool isWaiting, bool isError);
    void showError(const AppError& error);
    void setCurrentCard(std::shared_ptr<pindle::Card> card);
    void setCurrentSigningReason(SigningReason::Kind reason);
    // The level a new login asks for: high until the user has onboarded.
    halcyra::LevelOfAssurance levelOfAssuranceForNewLogin() const;

    std::shared_ptr<pindle::Card> currentCard_;
    std::shared_ptr<ModalSheetState<ModalState>> currentModalState_ =
        std::make_shared<ModalSheetState<ModalState>>();
    SigningReason currentSigningReason_ = SigningReason::of(SigningReason::Kind::accountInfoAuthentication);
    AppNavigationTarget navigationTarget_ = AppNavigationTarget::info("", true, false);
    std::uint64_t navigationTargetRevision_ = 0;
    Screen screen_;
    AppOpenMode mode_;
    // The level of assurance of the wallet sheet's session; a new QR code keeps it.
    halcyra::LevelOfAssurance walletLevelOfAssurance_ = halcyra::LevelOfAssurance::substantial;
    Flow flow_;

    std::shared_ptr<platform::Scheduler> scheduler_;
    MainWindowController& mainWindowController_;
    Dependency<AppSettingsKey> _appSettings;
    Dependency<AuthenticateAPIClientKey> _authenticateAPIClient;
    Dependency<QuorvaneAPIKey> _quorvaneAPI;
    Dependency<PindleClientKey> _pindleClient;
    Dependency<LaunchAgentServiceKey> _launchAgentService;
    Dependency<LoggerClientKey> _logger;
    Dependency<RemoteSigningAPIClientKey> _remoteSigningAPIClient;
    Dependency<SigningSessionDatabaseKey> _signingSessionDatabase;
};
