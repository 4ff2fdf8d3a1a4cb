#pragma once
// Stand-in until the wallet tracking lands: what a sheet state tells the wallet sheet.
#include <optional>
#include <string>

class WalletTrackingAwareModalState {
  public:
    virtual ~WalletTrackingAwareModalState() = default;
    virtual std::optional<std::string> walletTrackingSessionId() const = 0;
    virtual std::optional<std::string> walletTrackingPollingSessionId() const = 0;
};
