#pragma once
// The creation of the remote signing account by a user who has just logged in (card or wallet) and has none
// yet. Four pages (disclaimer, terms, identity, subscriber agreement), then the agreement is confirmed with
// the server and signed with the card (PIN sheet) or in the wallet (wallet sheet), and the new signing
// certificate is retrieved into the token. The flow ends once: `accountCreationCompleted` with none on
// success or the error that ended it, or `accountCreationCancelled` when the user stops; afterwards it does
// nothing, and neither does it once the main window closes.
//
// Sheets and messages go up through setModalState(): a state of another kind than the one shown replaces it
// only after a 0.1 s gap with nothing shown, so that one sheet has gone before the next comes. A pending
// state is dropped once a newer one has been set meanwhile (the server can answer within the gap).
//
// Main thread only. Make it with std::make_shared: its tasks hold it until they have ended (each step awaited
// through its Flow, so that none goes on once the flow has ended); the callbacks it hands out (pages, sheets,
// timers) hold it weakly.
#include <QCoroTask>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AccountCreationConditionsViewModel.h"
#include "AccountCreationDisclaimerViewModel.h"
#include "AccountCreationIdentityValidationViewModel.h"
#include "AccountCreationModalState.h"
#include "AccountCreationStep.h"
#include "AccountCreationSubscriberAgreementViewModel.h"
#include "Quorvane/auth/AuthenticationSheets.h"
#include "Quorvane/core/AppError.h"
#include "Quorvane/core/Flow.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/shell/views/InfoViewModel.h"
#include "Quorvane/signing/CertificateRetrieval.h"
#include "api/Clients.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"

class LoggerClient;

class AccountCreationViewModel : public Observable,
                                 public PinInputAwareViewModel,
                                 public WalletTrackingAwareViewModel<AccountCreationModalState>,
                                 public std::enable_shared_from_this<AccountCreationViewModel> {
  public:
    using ModalState = AccountCreationModalState;
    // None on success, else the error that ended the creation.
    using Completed = std::function<void(std::optional<AppError>)>;

    // The gap between a sheet or message and the next one of another kind.
    static constexpr std::chrono::milliseconds modalStateGap{100};
    // How long the progress message stays before a network error replaces it.
    static constexpr std::chrono::milliseconds networkErrorDelay{500};

    // Reads the onboarding client and the logger now. `closeWindow` closes the main window (the default: the
    // app's); it runs in a task of its own.
    AccountCreationViewModel(SigningSessionContext context, Completed accountCreationCompleted,
                             std::function<void()> accountCreationCancelled,
                             std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
                             std::function<void()> closeWindow = nullptr);
    ~AccountCreationViewModel() override;
    AccountCreationViewModel(const AccountCreationViewModel&) = delete;
    AccountCreationViewModel& operator=(const AccountCreationViewModel&) = delete;

    // --- Observed state

    // The card of a card login; none for the wallet.
    std::shared_ptr<pindle::Card> currentCard() const override { return context_.card(); }
    std::optional<ModalState> currentModalState() const override { return currentModalState_->value(); }
    // Sets the state at once (the sheets' own writes, and every "clear"); a pending state is dropped.
    void setCurrentModalState(std::optional<ModalState> state) override;
    SigningReason currentSigningReason() const override { return currentSigningReason_; }
    const AccountCreationStep& currentStep() const { return currentStep_; }
    // Whether the header's "Stop activation" is enabled.
    bool stopAllowed() const { return stopAllowed_; }
    const SigningSessionContext& context() const { return context_; }
    // The onboarding session of the last data confirmation.
    const std::string& onboardingSessionId() const { return onboardingSessionId_; }
    // True once the flow has reported its end, or the main window has closed.
    bool hasEnded() const { return flow_.hasEnded(); }

    // The sheet state as the sheet presenter watches it.
    const std::shared_ptr<ModalSheetState<ModalState>>& modalSheetState() const { return currentModalState_; }
    const std::shared_ptr<platform::Scheduler>& scheduler() const { return scheduler_; }

    // --- The pages and sheets, each wired back into this model (held weakly)

    std::shared_ptr<AccountCreationDisclaimerViewModel> makeDisclaimerViewModel();
    // The terms page, its box unticked.
    std::shared_ptr<AccountCreationConditionsViewModel> makeConditionsViewModel();
    // The identity page: made on first use and kept, so its box stays as the user left it.
    const std::shared_ptr<AccountCreationIdentityValidationViewModel>& identityValidationViewModel();
    // A new agreement page for the current step's document, "Confirm" enabled unless the agreement is being
    // signed; none on another page.
    std::shared_ptr<AccountCreationSubscriberAgreementViewModel> makeSubscriberAgreementViewModel();
    // The message of a waiting state: in progress only while waiting and not terminal; OK confirms it.
    std::shared_ptr<InfoViewModel> makeInfoViewModel(const ModalState::Waiting& waiting);
    // The retrieval of the new certificate into the token; its end ends the flow.
    std::shared_ptr<CertificateRetrievalViewModel> makeCertificateRetrievalViewModel();

    // --- The pages' actions

    // The disclaimer's "Create signing certificate".
    void showTermsAndConditions();
    // The terms' "Confirm & continue".
    void showIdentityVerification();
    // "Cancel" on the disclaimer and "Stop activation" in the header: the flow ends as cancelled.
    void stop();
    // The identity's "Confirm & continue": fetches the agreement in English, then shows it.
    void retrieveAgreement();
    // The agreement's "Confirm": confirms the user's data and signs the agreement with the card or the
    // wallet.
    void confirmAgreement();
    // OK on a message: it goes, and the main window closes when the message was terminal.
    void infoConfirmed(bool closeWindow);

    // Puts up a sheet or message, or clears it (see above).
    void setModalState(std::optional<ModalState> state);

    // --- The sheets' outcomes

    // The PIN sheet ended without a PIN (the card's operation cancelled): by the user, or by its time-out.
    void pinInputCancelled(bool timedOut);
    void walletTrackingCompleted(WalletTrackingResult result) override;
    void sheetCancelled();
    // A new wallet confirmation of the agreement for an expired QR code: a new onboarding session. Fails with
    // halcyra::HalcyraError, the model's state unchanged.
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletOnboarding();
    void certificateRetrievalCompleted(std::optional<AppError> error);

    void handlePinInputEnded(bool timedOut) override { pinInputCancelled(timedOut); }
    void walletQrCodeScanned() override {}
    void walletTrackingCancelled() override { sheetCancelled(); }
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletTracking(std::string) override {
        return refreshWalletOnboarding();
    }

    // The main window is closing: the flow stops where it is, without reporting, and a card operation still
    // running is cancelled.
    void end();

  private:
    using Self = std::shared_ptr<AccountCreationViewModel>;

    static QCoro::Task<> retrieveAgreement(Self self);
    static QCoro::Task<> signAgreement(Self self);
    static QCoro::Task<> processOnboardingData(Self self, halcyra::OnboardingData data);
    static QCoro::Task<> signAgreementWithCard(Self self, platform::Bytes hash,
                                               std::shared_ptr<pindle::Card> card);
    static QCoro::Task<> sendSignedAgreement(Self self, platform::Bytes signature,
                                             std::shared_ptr<pindle::Card> card);
    static QCoro::Task<> sendWalletAgreement(Self self, std::string pollingSessionId);
    static QCoro::Task<WalletTrackingIdentifiers> refreshWalletOnboarding(Self self);

    halcyra::ConfirmUserDataRequest confirmUserDataRequest() const;
    void handleAPIError(const halcyra::HalcyraError& error);
    void setCurrentStep(AccountCreationStep step);
    void setStopAllowed(bool allowed);
    // Stops the flow: nothing it started acts any more, and a running card operation is cancelled.
    void finish();
    void complete(std::optional<AppError> error);

    std::shared_ptr<ModalSheetState<ModalState>> currentModalState_ =
        std::make_shared<ModalSheetState<ModalState>>();
    // Counts the writes of the sheet state (and the failures that void a write still waiting for its gap): a
    // delayed write goes ahead only when none came after it.
    std::uint64_t modalStateGeneration_ = 0;
    const SigningReason currentSigningReason_ = SigningReason::of(SigningReason::Kind::agreementSigning);
    AccountCreationStep currentStep_ = AccountCreationStep::disclaimer();
    bool stopAllowed_ = true;
    const SigningSessionContext context_;
    std::string onboardingSessionId_;
    Completed accountCreationCompleted_;
    std::function<void()> accountCreationCancelled_;
    std::shared_ptr<AccountCreationIdentityValidationViewModel> identityValidationViewModel_;

    Flow flow_;
    bool cardOperationRunning_ = false;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::function<void()> closeWindow_;
    platform::NotificationCenter::Observation willCloseObservation_;
    std::shared_ptr<halcyra::OnboardingAPIClient> onboardingAPIClient_;
    std::shared_ptr<LoggerClient> logger_;
};
