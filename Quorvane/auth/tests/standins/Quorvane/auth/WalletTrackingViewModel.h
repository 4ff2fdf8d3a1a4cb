#pragma once
// Stand-in for the wallet tracking model until it lands: its construction, the warning of an account-creation
// login, the start of tracking (counted, nothing is polled) and the cancel path of its Cancel button.
#include <QCoroTask>
#include <functional>
#include <memory>
#include <string>

#include "Quorvane/auth/WalletTrackingAwareViewModel.h"
#include "Quorvane/core/Observable.h"

class WalletTrackingViewModel : public Observable {
  public:
    WalletTrackingViewModel(
        std::string sessionId, std::string pollingSessionId, SigningReason reason,
        std::function<void(WalletTrackingResult)> pollingCompleted,
        std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested,
        std::function<void()> qrCodeScanned, std::function<void()> cancelRequested);

    const std::string& sessionId() const { return sessionId_; }
    const std::string& pollingSessionId() const { return pollingSessionId_; }
    bool shouldShowAccountCreationAuthenticationWarning() const { return warning_; }
    int trackingStarts() const { return trackingStarts_; }

    QCoro::Task<> startTracking();
    // The Cancel button: stops the model and tells the owner.
    void cancel();

    const SigningReason reason;
    const std::function<void(WalletTrackingResult)> pollingCompleted;
    const std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested;
    const std::function<void()> qrCodeScanned;
    const std::function<void()> cancelRequested;

  private:
    std::string sessionId_;
    std::string pollingSessionId_;
    bool warning_;
    int trackingStarts_ = 0;
    bool ended_ = false;
};
