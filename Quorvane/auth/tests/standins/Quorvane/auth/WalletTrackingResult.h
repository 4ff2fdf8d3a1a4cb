#pragma once
// Stand-in until the wallet tracking lands: how a wallet login ended.
#include <string>
#include <variant>

#include "Quorvane/core/AppError.h"

struct WalletTrackingResult {
    struct Success {
        std::string sessionId;
        std::string pollingSessionId;
    };
    struct Failure {
        AppError error;
    };
    std::variant<Success, Failure> value;

    static WalletTrackingResult success(std::string sessionId, std::string pollingSessionId) {
        return {Success{std::move(sessionId), std::move(pollingSessionId)}};
    }
    static WalletTrackingResult failure(AppError error) { return {Failure{std::move(error)}}; }
};
