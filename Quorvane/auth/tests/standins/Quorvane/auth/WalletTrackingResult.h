#pragma once
// Stand-in until the wallet tracking lands: how a wallet login ended.
#include <optional>
#include <string>

#include "Quorvane/core/AppError.h"

struct WalletTrackingResult {
    enum class Kind { success, failure };

    Kind kind;
    std::string sessionId;          // success
    std::string pollingSessionId;   // success
    std::optional<AppError> error;  // failure

    static WalletTrackingResult success(std::string sessionId, std::string pollingSessionId) {
        return {Kind::success, std::move(sessionId), std::move(pollingSessionId), std::nullopt};
    }
    static WalletTrackingResult failure(AppError error) { return {Kind::failure, {}, {}, std::move(error)}; }
};
