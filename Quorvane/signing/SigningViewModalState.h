#pragma once
// The sheet over the signing screen: PIN entry for a card event, or the wallet sheet for a login or a consent
// (whose polling session the sheet fetches itself when it is not known yet).
#include <optional>
#include <string>
#include <variant>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "cardbridge/Card.h"

struct SigningViewModalState : PinInputAwareModalState, WalletTrackingAwareModalState {
    struct PinInput {
        pindle::CardSigningEvent event;
    };
    struct WalletTracking {
        std::string sessionId;
        std::optional<std::string> pollingSessionId;
    };

    explicit SigningViewModalState(std::variant<PinInput, WalletTracking> value) : value(std::move(value)) {}

    std::variant<PinInput, WalletTracking> value;

    static SigningViewModalState pinInput(pindle::CardSigningEvent event) {
        return SigningViewModalState(PinInput{std::move(event)});
    }
    static SigningViewModalState walletTracking(std::string sessionId,
                                                std::optional<std::string> pollingSessionId) {
        return SigningViewModalState(WalletTracking{std::move(sessionId), std::move(pollingSessionId)});
    }

    const pindle::CardSigningEvent* pinInputEvent() const override {
        const auto* pin = std::get_if<PinInput>(&value);
        return pin ? &pin->event : nullptr;
    }
    std::optional<std::string> walletTrackingSessionId() const override {
        const auto* wallet = std::get_if<WalletTracking>(&value);
        return wallet ? std::optional(wallet->sessionId) : std::nullopt;
    }
    std::optional<std::string> walletTrackingPollingSessionId() const override {
        const auto* wallet = std::get_if<WalletTracking>(&value);
        return wallet ? wallet->pollingSessionId : std::nullopt;
    }
};
