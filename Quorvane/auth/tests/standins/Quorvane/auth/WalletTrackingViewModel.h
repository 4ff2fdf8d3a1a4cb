#pragma once
// Stand-in for the wallet tracking model until it lands: its construction, the warning of an account-creation
// login, the start of tracking (counted; nothing is polled) and the cancel of its Cancel button.
#include <QCoroTask>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Quorvane/auth/WalletTrackingIdentifiers.h"
#include "Quorvane/auth/WalletTrackingResult.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "platform/Scheduler.h"

class WalletTrackingViewModel : public Observable {
  public:
    struct Callbacks {
        std::function<void(WalletTrackingResult)> pollingCompleted;
        std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested;
        std::function<void()> qrCodeScanned;
        std::function<void()> cancelRequested;
    };

    static std::shared_ptr<WalletTrackingViewModel> make(
        std::string sessionId, std::string pollingSessionId, std::int64_t secondsRemaining,
        SigningReason reason, Callbacks callbacks,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());

    const std::string& sessionId() const { return sessionId_; }
    const std::string& pollingSessionId() const { return pollingSessionId_; }
    std::int64_t secondsRemaining() const { return secondsRemaining_; }
    const SigningReason& reason() const { return reason_; }
    bool shouldShowAccountCreationAuthenticationWarning() const { return warning_; }
    int trackingStarts() const { return trackingStarts_; }

    QCoro::Task<> startTracking();
    void cancel();

    const std::function<void(WalletTrackingResult)> pollingCompleted;
    const std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested;
    const std::function<void()> qrCodeScanned;
    const std::function<void()> cancelRequested;

  private:
    WalletTrackingViewModel(std::string sessionId, std::string pollingSessionId,
                            std::int64_t secondsRemaining, SigningReason reason, Callbacks callbacks);

    std::string sessionId_;
    std::string pollingSessionId_;
    std::int64_t secondsRemaining_;
    SigningReason reason_;
    bool warning_;
    int trackingStarts_ = 0;
    bool ended_ = false;
};
