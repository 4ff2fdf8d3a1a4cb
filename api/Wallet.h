#pragma once
// The wire types and result of "/wallet/poll".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"
#include "platform/Json.h"

namespace halcyra {

enum class WalletPollingStatus { authenticated, authenticationPending, expired, scanPending, unknown };

std::string_view rawValue(WalletPollingStatus value);
std::optional<WalletPollingStatus> walletPollingStatusFromRawValue(std::string_view text);

struct WalletPollingResponse {
    WalletPollingStatus status;
    std::optional<platform::Bytes> qrCodeImageData;
    std::optional<std::int64_t> sessionSecondsLeft;
    std::optional<std::int64_t> millisecondsBeforeNextPolling;
};

struct PollRequest {
    std::string pollSessionId;
};

struct PollResponse {
    std::string type;
    std::optional<std::string> qrCode;  // Base64url PNG
    std::optional<std::int64_t> authTimeLeft;
    std::optional<std::int64_t> retryAfter;

    // The log copy: the QR code image (it opens the user's wallet session) shows as "Redacted".
    struct Redacted {
        const PollResponse& base;
    };
    Redacted redacted() const { return Redacted{*this}; }
};

void to_json(platform::json::Json& json, const PollRequest& value);
void from_json(const platform::json::Json& json, PollRequest& value);
void to_json(platform::json::Json& json, const PollResponse& value);
void from_json(const platform::json::Json& json, PollResponse& value);
void to_json(platform::json::Json& json, const PollResponse::Redacted& value);

WalletPollingResponse mapPollResponse(const PollResponse& response);

}  // namespace halcyra
