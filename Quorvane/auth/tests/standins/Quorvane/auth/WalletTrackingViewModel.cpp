#include "Quorvane/auth/WalletTrackingViewModel.h"

WalletTrackingViewModel::WalletTrackingViewModel(
    std::string sessionId, std::string pollingSessionId, SigningReason reason,
    std::function<void(WalletTrackingResult)> pollingCompleted,
    std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> qrCodeRefreshRequested,
    std::function<void()> qrCodeScanned, std::function<void()> cancelRequested)
    : reason(std::move(reason)),
      pollingCompleted(std::move(pollingCompleted)),
      qrCodeRefreshRequested(std::move(qrCodeRefreshRequested)),
      qrCodeScanned(std::move(qrCodeScanned)),
      cancelRequested(std::move(cancelRequested)),
      sessionId_(std::move(sessionId)),
      pollingSessionId_(std::move(pollingSessionId)),
      warning_(this->reason.kind == SigningReason::Kind::accountCreationAuthentication) {}

QCoro::Task<> WalletTrackingViewModel::startTracking() {
    ++trackingStarts_;
    co_return;
}

void WalletTrackingViewModel::cancel() {
    if (ended_)
        return;
    ended_ = true;
    if (cancelRequested)
        cancelRequested();
}
