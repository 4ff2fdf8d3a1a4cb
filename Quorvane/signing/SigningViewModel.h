#pragma once
// One signing request from its arrival to its answer: a hash that the token relays over XPC, or a bulk
// request from a deep link. The model finds the card (or the wallet) the request is for, reuses a session
// still valid for signing or has the user log in again, gets the server's consent data, has the card sign it
// or the wallet confirm it, and hands the server's signatures back: over XPC to the token, or by opening the
// bulk request's callback. Every failure ends the same way, with the error (none for a plain cancellation).
//
// It is made of three parts: the intake (SigningRequestIntake: the bulk request's checks, the 30 s wait for
// the token's hash), the authentication and consent here, and the delivery of the answer
// (SigningResultDelivery).
//
// The first ending stops the flow: the 30 s wait for the token stops, the XPC client is told once (a
// signature or a failure) and never touched again by this model, and a reply that arrives afterwards changes
// nothing. Later endings (the window closing after an error) still close the sheet and report to `completed`
// again; a bulk callback is opened at most once with an error.
//
// Main thread only. Make it with std::make_shared: its tasks hold it until they have ended; the callbacks it
// hands out (XPC handlers, timer, sheets) hold it weakly.
#include <QCoroTask>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "Quorvane/core/AppError.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Flow.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "Quorvane/core/SigningRequestType.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/shell/views/InfoViewModel.h"
#include "SigningRequestIntake.h"
#include "SigningResultDelivery.h"
#include "SigningViewModalState.h"
#include "SigningViewTarget.h"
#include "api/Consent.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"

class SigningViewModel : public Observable,
                         public PinInputAwareViewModel,
                         public WalletTrackingAwareViewModel<SigningViewModalState>,
                         public std::enable_shared_from_this<SigningViewModel> {
  public:
    using ModalState = SigningViewModalState;
    // The end of the flow for the navigation: none when the signatures went out or the user cancelled. Called
    // from a task of its own, again for every later ending.
    using Completed = std::function<void(std::optional<AppError>)>;
    // Opens a bulk request's callback URL.
    using URLOpener = SigningResultDelivery::URLOpener;
    // What the screen shows: a message, or the card selection for the card the request is for.
    using Page = std::variant<std::shared_ptr<InfoViewModel>, std::shared_ptr<CardSelectionViewModel>>;

    static constexpr const char* walletTokenIdentifier = SigningSessionContext::walletTokenIdentifier;

    // Reads the app's services now. Observes "MainWindowWillClose" while it lives. `closeWindow` is the card
    // selection's "Done".
    SigningViewModel(SigningRequestType requestType, Completed completed,
                     std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
                     URLOpener openURL = nullptr, std::function<void()> closeWindow = nullptr);
    SigningViewModel(const SigningViewModel&) = delete;
    SigningViewModel& operator=(const SigningViewModel&) = delete;

    // --- Observed state

    std::shared_ptr<pindle::Card> currentCard() const override { return currentCard_; }
    std::optional<ModalState> currentModalState() const override { return currentModalState_->value(); }
    void setCurrentModalState(std::optional<ModalState> state) override;
    SigningReason currentSigningReason() const override { return currentSigningReason_; }
    const SigningViewTarget& viewTarget() const { return viewTarget_; }
    // The model of the page for the view target; a new one for each new target.
    const Page& page() const { return page_; }
    const SigningRequestType& requestType() const { return requestType_; }
    // The pending 30 s wait for the token's hash.
    std::shared_ptr<platform::Timer> timeoutTimer() const;
    const std::string& consentSessionId() const { return consentSessionId_; }
    bool hasAlreadyOpenedCallback() const { return delivery_.hasAlreadyOpenedCallback(); }
    // True from the first ending on.
    bool hasEnded() const { return flow_.hasEnded(); }

    // The sheet state as the sheet presenter watches it.
    const std::shared_ptr<ModalSheetState<ModalState>>& modalSheetState() const { return currentModalState_; }
    const std::shared_ptr<platform::Scheduler>& scheduler() const { return scheduler_; }

    // --- Intake

    // Starts the intake for the request: the bulk flow in a task of its own, or the wait for the token. Only
    // the first call does anything (the screen calls it each time it is shown).
    void start();
    // Signs with the token named last in the request's "tokenId"; a request with a hash that is not Base64
    // fails at once.
    QCoro::Task<> startBulkRequest(BulkSigningRequest request);
    // Connects to the relay, registers, says the app is ready and waits 30 s for the token's hash.
    void waitForTokenRequest();
    void handleTokenSignRequest(platform::Bytes hash, std::string instanceID);
    void handleCommunicationError(std::optional<AppError> error);
    // The main window is about to close: the flow ends as cancelled, whatever it was doing.
    void mainWindowWillClose();

    // --- Certificate check and authentication

    QCoro::Task<> signWithCard(std::string identifier);
    QCoro::Task<> checkSessionAndSign(SigningSessionContext context);
    // The card selection's choice: the flow goes on with that card, in a task of its own.
    void cardSelected(std::shared_ptr<pindle::Card> card);
    void pinInputCancelled(bool timedOut);
    // A new QR code for the wallet sheet: a new login session, or new consent data for the same session.
    // Fails with halcyra::HalcyraError.
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletSession(std::string sessionId);

    // The sheets' callbacks.
    void handlePinInputEnded(bool timedOut) override { pinInputCancelled(timedOut); }
    void walletTrackingCompleted(WalletTrackingResult result) override;
    void walletQrCodeScanned() override {}
    void walletTrackingCancelled() override { finishWithFailure(std::nullopt); }
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletTracking(std::string sessionId) override {
        return refreshWalletSession(std::move(sessionId));
    }

    // --- Result delivery

    // Answers the request with the server's signatures (Base64url), then reports to `completed`. A token that
    // would get no signature, or one that does not decode, gets the failure instead.
    void finishWithSignatures(const std::vector<std::string>& signatures);
    // Ends the flow: the sheet closes, the requester hears of the failure (the first time), `completed` runs.
    void finishWithFailure(std::optional<AppError> error);

  private:
    using Self = std::shared_ptr<SigningViewModel>;

    SigningRequestIntake& intake();
    static QCoro::Task<> startBulkRequest(Self self, BulkSigningRequest request);
    static QCoro::Task<> signWithCard(Self self, std::string identifier);
    static QCoro::Task<> checkSessionAndSign(Self self, SigningSessionContext context);
    static QCoro::Task<> authenticate(Self self, SigningSessionContext context);
    static QCoro::Task<> runAuthentication(Self self, SigningSessionContext context);
    static QCoro::Task<WalletTrackingIdentifiers> refreshWalletSession(Self self, std::string sessionId);
    static QCoro::Task<> startSigning(Self self, SigningSessionContext context);
    static QCoro::Task<> handleConsentData(Self self, halcyra::GetDataToConsentResponse response,
                                           SigningSessionContext context);
    static QCoro::Task<> signHashWithCard(Self self, platform::Bytes hash,
                                          std::shared_ptr<pindle::Card> card);
    static QCoro::Task<> consentAndSign(Self self, platform::Bytes signature,
                                        std::shared_ptr<pindle::Card> card);
    static QCoro::Task<> consentAndSign(Self self, std::string pollSessionId);
    static QCoro::Task<> walletTrackingSucceeded(Self self, std::string sessionId,
                                                 std::string pollingSessionId);

    halcyra::GetDataToConsentRequest consentRequest(std::string authSessionId) const;
    // A server error that ended a step: logged, and the flow ends with it.
    void finishWithServerError(const halcyra::HalcyraError& error);
    // The card went while it was to sign (the login or the consent): "004".
    void finishWithCardRemoval();
    void deliverCompletion(std::optional<AppError> error);
    // The first ending (true): the wait for the token stops, and a card operation still running is cancelled.
    bool end();
    void setCurrentCard(std::shared_ptr<pindle::Card> card);
    void setCurrentSigningReason(SigningReason reason);
    void setViewTarget(SigningViewTarget target);
    Page makePage();

    std::shared_ptr<pindle::Card> currentCard_;
    std::shared_ptr<ModalSheetState<ModalState>> currentModalState_ =
        std::make_shared<ModalSheetState<ModalState>>();
    SigningReason currentSigningReason_ = SigningReason::actualSigning(std::nullopt, std::nullopt);
    SigningViewTarget viewTarget_ = SigningViewTarget::info("", true);
    Page page_;
    SigningRequestType requestType_;
    std::string consentSessionId_;
    Completed completed_;

    bool started_ = false;
    Flow flow_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::function<void()> closeWindow_;
    platform::NotificationCenter::Observation willCloseObservation_;

    std::shared_ptr<halcyra::AuthenticateAPIClient> authenticateAPIClient_;
    std::shared_ptr<QuorvaneAPIClient> quorvaneAPI_;
    std::shared_ptr<pindle::PindleClient> pindleClient_;
    std::shared_ptr<LaunchAgentService> launchAgentService_;
    std::shared_ptr<LoggerClient> logger_;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient_;
    std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase_;
    std::shared_ptr<XPCClient> xpcClient_;
    std::shared_ptr<SigningRequestIntake> intake_;
    SigningResultDelivery delivery_;
};
