#pragma once
// Stand-in until the wallet tracking lands: a screen model that shows the wallet sheet, and the sheet's
// callbacks bound to its handlers without keeping it alive.
#include <QCoroTask>
#include <concepts>
#include <memory>
#include <optional>
#include <string>

#include "Quorvane/auth/WalletTrackingAwareModalState.h"
#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "Quorvane/core/SigningReason.h"

template <class ModalState>
requires std::derived_from<ModalState, WalletTrackingAwareModalState>
class WalletTrackingAwareViewModel {
  public:
    virtual ~WalletTrackingAwareViewModel() = default;
    virtual std::optional<ModalState> currentModalState() const = 0;
    virtual void setCurrentModalState(std::optional<ModalState> state) = 0;
    virtual SigningReason currentSigningReason() const = 0;
    virtual void walletTrackingCompleted(WalletTrackingResult result) = 0;
    virtual void walletQrCodeScanned() = 0;
    virtual void walletTrackingCancelled() = 0;
    virtual QCoro::Task<WalletTrackingIdentifiers> refreshWalletTracking(std::string sessionId) = 0;
};

namespace wallettracking {

template <class Owner>
QCoro::Task<WalletTrackingIdentifiers> refreshThroughOwner(std::weak_ptr<Owner> weakOwner,
                                                           std::string sessionId) {
    auto owner = weakOwner.lock();
    if (!owner)
        co_return WalletTrackingIdentifiers{};
    co_return co_await owner->refreshWalletTracking(std::move(sessionId));
}

}  // namespace wallettracking

template <class Owner>
WalletTrackingViewModel::Callbacks walletTrackingCallbacks(std::weak_ptr<Owner> owner) {
    WalletTrackingViewModel::Callbacks callbacks;
    callbacks.pollingCompleted = [owner](WalletTrackingResult result) {
        if (auto strong = owner.lock())
            strong->walletTrackingCompleted(std::move(result));
    };
    callbacks.qrCodeRefreshRequested = [owner](std::string sessionId) {
        return wallettracking::refreshThroughOwner(owner, std::move(sessionId));
    };
    callbacks.qrCodeScanned = [owner] {
        if (auto strong = owner.lock())
            strong->walletQrCodeScanned();
    };
    callbacks.cancelRequested = [owner] {
        if (auto strong = owner.lock())
            strong->walletTrackingCancelled();
    };
    return callbacks;
}
