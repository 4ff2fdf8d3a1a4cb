#pragma once
// A screen model that can show the wallet sheet: it keeps the sheet as a case of its own sheet state and
// takes the sheet's outcome through four handlers. walletTrackingCallbacks() binds a model's handlers into a
// wallet sheet's callbacks without keeping the model alive.
#include <QCoroTask>
#include <concepts>
#include <memory>
#include <optional>
#include <string>

#include "Quorvane/core/SigningReason.h"
#include "WalletTrackingAwareModalState.h"
#include "WalletTrackingIdentifiers.h"
#include "WalletTrackingResult.h"
#include "WalletTrackingViewModel.h"

template <class ModalState>
requires std::derived_from<ModalState, WalletTrackingAwareModalState>
class WalletTrackingAwareViewModel {
  public:
    virtual ~WalletTrackingAwareViewModel() = default;

    virtual std::optional<ModalState> currentModalState() const = 0;
    virtual void setCurrentModalState(std::optional<ModalState> state) = 0;
    virtual SigningReason currentSigningReason() const = 0;

    // The sheet's result, delivered once.
    virtual void walletTrackingCompleted(WalletTrackingResult result) = 0;
    // The server reported the QR code scanned (on every such poll).
    virtual void walletQrCodeScanned() = 0;
    // The user cancelled the sheet.
    virtual void walletTrackingCancelled() = 0;
    // A new authentication session for an expired QR code; fails with halcyra::HalcyraError.
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

// The four callbacks of a wallet sheet, each holding the owner weakly: once the owner is gone they do
// nothing, and a refresh answers an empty session id and no polling session id.
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
