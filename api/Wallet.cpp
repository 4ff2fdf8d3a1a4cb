#include "api/Wallet.h"

#include "api/RawValues.h"
#include "outside/Common/Common.h"

namespace halcyra {

using platform::json::Json;
using platform::json::optional;
using platform::json::put;
using platform::json::required;

namespace {
const std::pair<WalletPollingStatus, std::string_view> kStatuses[] = {
    {WalletPollingStatus::authenticated, "AUTHENTICATED"},
    {WalletPollingStatus::authenticationPending, "AUTHENTICATION_PENDING"},
    {WalletPollingStatus::expired, "EXPIRED"},
    {WalletPollingStatus::scanPending, "SCAN_PENDING"},
    {WalletPollingStatus::unknown, "UNKNOWN"}};
}  // namespace

std::string_view rawValue(WalletPollingStatus value) {
    return raw::toRaw(kStatuses, value);
}

std::optional<WalletPollingStatus> walletPollingStatusFromRawValue(std::string_view text) {
    return raw::fromRaw(kStatuses, text);
}

void to_json(Json& json, const PollRequest& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void from_json(const Json& json, PollRequest& value) {
    value.pollSessionId = required<std::string>(json, "pollSessionId");
}

void to_json(Json& json, const PollResponse& value) {
    json = Json::object();
    put(json, "type", value.type);
    put(json, "qrCode", value.qrCode);
    put(json, "authTimeLeft", value.authTimeLeft);
    put(json, "retryAfter", value.retryAfter);
}

void from_json(const Json& json, PollResponse& value) {
    value.type = required<std::string>(json, "type");
    value.qrCode = optional<std::string>(json, "qrCode");
    value.authTimeLeft = optional<std::int64_t>(json, "authTimeLeft");
    value.retryAfter = optional<std::int64_t>(json, "retryAfter");
}

void to_json(Json& json, const PollResponse::Redacted& value) {
    json = Json::object();
    put(json, "type", value.base.type);
    if (value.base.qrCode)
        put(json, "qrCode", std::string("Redacted"));
    put(json, "authTimeLeft", value.base.authTimeLeft);
    put(json, "retryAfter", value.base.retryAfter);
}

WalletPollingResponse mapPollResponse(const PollResponse& response) {
    WalletPollingResponse result{
        walletPollingStatusFromRawValue(response.type).value_or(WalletPollingStatus::unknown), std::nullopt,
        response.authTimeLeft, response.retryAfter};
    // An image that does not decode is left out; it is not a failure.
    if (response.qrCode)
        result.qrCodeImageData = base64URLDecoded(*response.qrCode);
    return result;
}

}  // namespace halcyra
