#pragma once
// Stand-in until the wallet tracking lands: the identifiers of one wallet authentication.
#include <optional>
#include <string>

struct WalletTrackingIdentifiers {
    std::string sessionId;
    std::optional<std::string> pollingSessionId;

    friend bool operator==(const WalletTrackingIdentifiers&, const WalletTrackingIdentifiers&) = default;
};
