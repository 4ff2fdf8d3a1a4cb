#pragma once
// The identifiers of one wallet authentication, as a QR-code refresh hands them back to the wallet sheet.
#include <optional>
#include <string>

struct WalletTrackingIdentifiers {
    std::string sessionId;
    // Known when the refresh already obtained it; otherwise the sheet asks the server for it.
    std::optional<std::string> pollingSessionId;

    friend bool operator==(const WalletTrackingIdentifiers&, const WalletTrackingIdentifiers&) = default;
};
