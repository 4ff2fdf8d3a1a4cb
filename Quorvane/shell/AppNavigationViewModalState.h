#pragma once
// The sheet that the navigation shows over its screen: PIN entry for a card event, or a wallet login for an
// authentication session.
#include <optional>
#include <string>
#include <variant>

#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "cardbridge/Card.h"

struct AppNavigationViewModalState {
    struct PinInput {
        pindle::CardSigningEvent event;
    };
    struct WalletTracking {
        std::string sessionId;
    };

    std::variant<PinInput, WalletTracking> value;

    static AppNavigationViewModalState pinInput(pindle::CardSigningEvent event) {
        return {PinInput{std::move(event)}};
    }
    static AppNavigationViewModalState walletTracking(std::string sessionId) {
        return {WalletTracking{std::move(sessionId)}};
    }

    // What the sheet presenter reads: the event of a PIN entry, the session of a wallet login (whose polling
    // session is always still to be fetched).
    const pindle::CardSigningEvent* pinInputEvent() const {
        const auto* pin = std::get_if<PinInput>(&value);
        return pin ? &pin->event : nullptr;
    }
    std::optional<WalletTrackingIdentifiers> walletTrackingIdentifiers() const {
        const auto* wallet = std::get_if<WalletTracking>(&value);
        if (!wallet)
            return std::nullopt;
        return WalletTrackingIdentifiers{wallet->sessionId, std::nullopt};
    }
};
