#pragma once
// Stand-in until the wallet tracking lands: what the wallet sheet needs of the model that shows it.
#include <QCoroTask>
#include <string>

#include "Quorvane/auth/WalletTrackingIdentifiers.h"
#include "Quorvane/auth/WalletTrackingResult.h"
#include "Quorvane/core/SigningReason.h"

class WalletTrackingAwareViewModel {
  public:
    virtual ~WalletTrackingAwareViewModel() = default;
    virtual SigningReason currentSigningReason() const = 0;
    virtual void handleWalletTrackingResult(WalletTrackingResult result) = 0;
    virtual void handleWalletQrCodeScanned() = 0;
    virtual void handleWalletTrackingCancellation() = 0;
    virtual QCoro::Task<WalletTrackingIdentifiers> refreshWalletSession(std::string sessionId) = 0;
};
