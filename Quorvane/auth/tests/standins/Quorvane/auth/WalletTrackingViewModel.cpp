#include "Quorvane/auth/WalletTrackingViewModel.h"

std::shared_ptr<WalletTrackingViewModel> WalletTrackingViewModel::make(
    std::string sessionId, std::string pollingSessionId, std::int64_t secondsRemaining, SigningReason reason,
    Callbacks callbacks, std::shared_ptr<platform::Scheduler>) {
    return std::shared_ptr<WalletTrackingViewModel>(
        new WalletTrackingViewModel(std::move(sessionId), std::move(pollingSessionId), secondsRemaining,
                                    std::move(reason), std::move(callbacks)));
}

WalletTrackingViewModel::WalletTrackingViewModel(std::string sessionId, std::string pollingSessionId,
                                                 std::int64_t secondsRemaining, SigningReason reason,
                                                 Callbacks callbacks)
    : pollingCompleted(std::move(callbacks.pollingCompleted)),
      qrCodeRefreshRequested(std::move(callbacks.qrCodeRefreshRequested)),
      qrCodeScanned(std::move(callbacks.qrCodeScanned)),
      cancelRequested(std::move(callbacks.cancelRequested)),
      sessionId_(std::move(sessionId)),
      pollingSessionId_(std::move(pollingSessionId)),
      secondsRemaining_(secondsRemaining),
      reason_(std::move(reason)),
      warning_(reason_.kind == SigningReason::Kind::accountCreationAuthentication) {}

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
