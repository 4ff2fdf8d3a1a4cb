#pragma once
// The sheet that the navigation shows over its screen: PIN entry for a card event, or a wallet login for an
// authentication session (whose polling session the wallet sheet always fetches itself).
#include <optional>
#include <string>
#include <variant>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "cardbridge/Card.h"

struct AppNavigationViewModalState : PinInputAwareModalState, WalletTrackingAwareModalState {
    struct PinInput {
        pindle::CardSigningEvent event;
    };
    struct WalletTracking {
        std::string sessionId;
    };

    explicit AppNavigationViewModalState(std::variant<PinInput, WalletTracking> value)
        : value(std::move(value)) {}

    std::variant<PinInput, WalletTracking> value;

    static AppNavigationViewModalState pinInput(pindle::CardSigningEvent event) {
        return AppNavigationViewModalState(PinInput{std::move(event)});
    }
    static AppNavigationViewModalState walletTracking(std::string sessionId) {
        return AppNavigationViewModalState(WalletTracking{std::move(sessionId)});
    }

    const pindle::CardSigningEvent* pinInputEvent() const override {
        const auto* pin = std::get_if<PinInput>(&value);
        return pin ? &pin->event : nullptr;
    }
    std::optional<std::string> walletTrackingSessionId() const override {
        const auto* wallet = std::get_if<WalletTracking>(&value);
        return wallet ? std::optional(wallet->sessionId) : std::nullopt;
    }
    std::optional<std::string> walletTrackingPollingSessionId() const override { return std::nullopt; }
};
