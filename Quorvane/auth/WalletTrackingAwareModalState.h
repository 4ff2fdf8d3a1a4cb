#pragma once
// The sheet state of a flow that can show the wallet sheet. Its wallet-tracking case carries the ids the
// sheet starts with; every other case carries none.
#include <optional>
#include <string>

class WalletTrackingAwareModalState {
  public:
    virtual ~WalletTrackingAwareModalState() = default;

    // The authentication session id of the wallet-tracking case; nothing for any other case.
    virtual std::optional<std::string> walletTrackingSessionId() const = 0;
    // The polling session id of the wallet-tracking case, when the case knows it.
    virtual std::optional<std::string> walletTrackingPollingSessionId() const = 0;
};
