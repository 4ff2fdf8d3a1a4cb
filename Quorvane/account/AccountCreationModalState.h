#pragma once
// What the account creation puts over its page: a message (in progress while waiting, else with an OK
// button), the PIN sheet for a card event, the wallet sheet for the agreement's confirmation, or the
// retrieval of the new signing certificate.
#include <optional>
#include <string>
#include <variant>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "cardbridge/Card.h"

struct AccountCreationModalState : PinInputAwareModalState, WalletTrackingAwareModalState {
    struct Waiting {
        std::string message;
        bool isWaiting;
        // Confirming the message also closes the main window.
        bool isTerminal;
    };
    struct PinInput {
        pindle::CardSigningEvent event;
    };
    struct WalletTracking {
        std::string sessionId;
        std::optional<std::string> pollingSessionId;
    };
    struct RetrievingCertificate {};

    enum class Kind { waiting, pinInput, walletTracking, retrievingCertificate };

    explicit AccountCreationModalState(
        std::variant<Waiting, PinInput, WalletTracking, RetrievingCertificate> value)
        : value(std::move(value)) {}

    std::variant<Waiting, PinInput, WalletTracking, RetrievingCertificate> value;

    static AccountCreationModalState waiting(std::string message, bool isWaiting, bool isTerminal) {
        return AccountCreationModalState(Waiting{std::move(message), isWaiting, isTerminal});
    }
    static AccountCreationModalState pinInput(pindle::CardSigningEvent event) {
        return AccountCreationModalState(PinInput{std::move(event)});
    }
    static AccountCreationModalState walletTracking(std::string sessionId,
                                                    std::optional<std::string> pollingSessionId) {
        return AccountCreationModalState(WalletTracking{std::move(sessionId), std::move(pollingSessionId)});
    }
    static AccountCreationModalState retrievingCertificate() {
        return AccountCreationModalState(RetrievingCertificate{});
    }

    Kind kind() const { return static_cast<Kind>(value.index()); }
    const Waiting* waitingMessage() const { return std::get_if<Waiting>(&value); }

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
