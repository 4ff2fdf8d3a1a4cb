#pragma once
// The wallet login behind the wallet sheet: obtains the polling session id, polls the server's wallet
// endpoint until it reports the outcome, keeps the QR image and the code's remaining validity, offers a fresh
// code once the old one expired, and delivers the result to the flow that showed the sheet. Also derives the
// verification code that the user compares with the wallet app's when a document hash is signed.
//
// Main thread only. One model per sheet presentation, made with make(); starting it more than once starts one
// chain of polls. Its work runs in tasks that keep it alive, but ends with it: after a cancel, after its
// result, or once the presentation has let go of every handle make() gave, a reply still on its way changes
// nothing, and a refresh supersedes whatever was under way before it. Its timers hold it weakly.
#include <QCoroTask>
#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Quorvane/core/AppError.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "WalletPollingState.h"
#include "WalletTrackingIdentifiers.h"
#include "WalletTrackingResult.h"
#include "api/Wallet.h"
#include "platform/Scheduler.h"

// The flow that errors of the wallet sheet are shown under, by the reason of the authentication.
ErrorCodeSourceFlow walletTrackingSourceFlow(const SigningReason& reason);

class WalletTrackingViewModel : public Observable,
                                public std::enable_shared_from_this<WalletTrackingViewModel> {
    struct Passkey {};

  public:
    // Set by the flow that shows the sheet; each may be empty.
    struct Callbacks {
        std::function<void(WalletTrackingResult)> pollingCompleted;
        // A new authentication session for an expired code, for the current session id. May fail; a
        // halcyra::HalcyraError ends the sheet with an error, any other failure leaves it waiting.
        std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested;
        // Told each time the server reports the code scanned.
        std::function<void()> qrCodeScanned;
        std::function<void()> cancelRequested;
    };

    static constexpr std::chrono::seconds countdownInterval{1};
    static constexpr std::chrono::seconds completionDelay{2};
    static constexpr std::chrono::milliseconds defaultPollingInterval{1000};

    // An empty polling session id means not yet known: tracking asks the server for it first. The warning of
    // an account-creation authentication is shown from the start, and nothing is polled until Continue.
    static std::shared_ptr<WalletTrackingViewModel> make(
        std::string sessionId, std::string pollingSessionId, std::int64_t secondsRemaining,
        SigningReason reason, Callbacks callbacks,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
    WalletTrackingViewModel(Passkey, std::string sessionId, std::string pollingSessionId,
                            std::int64_t secondsRemaining, SigningReason reason, Callbacks callbacks,
                            std::shared_ptr<platform::Scheduler> scheduler);
    WalletTrackingViewModel(const WalletTrackingViewModel&) = delete;
    WalletTrackingViewModel& operator=(const WalletTrackingViewModel&) = delete;

    const std::string& sessionId() const { return sessionId_; }
    const std::string& pollingSessionId() const { return pollingSessionId_; }
    const std::shared_ptr<platform::Timer>& countdownTimer() const { return countdownTimer_; }
    const std::shared_ptr<platform::Timer>& delayedCompletionTimer() const { return delayedCompletionTimer_; }
    const std::shared_ptr<platform::Timer>& nextPollingTimer() const { return nextPollingTimer_; }
    const std::optional<QImage>& lastQrCodeImage() const { return lastQrCodeImage_; }
    std::int64_t secondsRemaining() const { return secondsRemaining_; }
    const SigningReason& reason() const { return reason_; }
    // Observed.
    bool shouldShowAccountCreationAuthenticationWarning() const {
        return shouldShowAccountCreationAuthenticationWarning_;
    }
    // Observed.
    const WalletPollingState& pollingState() const { return pollingState_; }

    // "XXXX-XXXX": the Crockford Base32 of the first 5 bytes of the hash being signed; nothing unless the
    // reason is actualSigning with a hash of at least 5 bytes.
    std::optional<std::string> verificationCode() const;

    // Fetches the polling session id unless known, then polls until the login ends. Only the first call
    // starts anything.
    QCoro::Task<> startTracking();
    // The warning's Continue: hides the warning and starts tracking in a new task.
    void continueAfterAccountCreationWarning();
    // "Refresh the code": back to waiting, then a new authentication session from the flow and a new chain of
    // polls for it.
    void refreshQrCode();
    // The user cancels: stops the countdown, the delayed completion and the next poll, in that order, ends
    // the model and tells the flow (once).
    void cancel();

    const std::function<void(WalletTrackingResult)> pollingCompleted;
    const std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested;
    const std::function<void()> qrCodeScanned;
    const std::function<void()> cancelRequested;

  private:
    using Self = std::shared_ptr<WalletTrackingViewModel>;

    static QCoro::Task<> fetchPollingSessionIdAndPoll(Self self, std::uint64_t chain);
    static QCoro::Task<> pollOnce(Self self, std::uint64_t chain);
    static QCoro::Task<> refresh(Self self, std::uint64_t chain);

    // A chain is one start or refresh and the polls that follow it; only the newest one of a live model may
    // act.
    std::uint64_t startChain() { return ++chain_; }
    bool isCurrent(std::uint64_t chain) const { return !ended_ && chain == chain_; }
    void postPoll(std::uint64_t chain);

    void applyPollingResponse(const halcyra::WalletPollingResponse& response);
    void startCountdown();
    void scheduleNextPoll(std::chrono::milliseconds delay, std::uint64_t chain);
    void scheduleDelayedCompletion(std::uint64_t chain);
    void invalidateTimers();
    // Ends the model with the error, delivered as the result.
    void endWithFailure(AppError error);
    // Ends the model without telling anyone: the presentation let go of it.
    void end();
    AppError backendError(const std::string& code, const halcyra::HalcyraError& error) const;

    std::string sessionId_;
    std::string pollingSessionId_;
    std::shared_ptr<platform::Timer> countdownTimer_;
    std::shared_ptr<platform::Timer> delayedCompletionTimer_;
    std::shared_ptr<platform::Timer> nextPollingTimer_;
    std::optional<QImage> lastQrCodeImage_;
    std::optional<platform::Bytes> lastQrCodeImageData_;  // what lastQrCodeImage_ was decoded from
    std::int64_t secondsRemaining_;
    const SigningReason reason_;
    bool shouldShowAccountCreationAuthenticationWarning_;
    WalletPollingState pollingState_ = WalletPollingState::waiting();

    Dependency<AuthenticateAPIClientKey> authenticateAPIClient_;
    Dependency<WalletAPIClientKey> walletAPIClient_;
    const std::shared_ptr<platform::Scheduler> scheduler_;
    std::uint64_t chain_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool cancelled_ = false;
};
