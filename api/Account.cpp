#include "api/Account.h"

#include <charconv>

#include "api/PreferredLanguages.h"
#include "api/RawValues.h"
#include "outside/Common/Common.h"
#include "platform/qt/SystemInfo.h"

namespace halcyra {

using platform::json::Json;
using platform::json::optional;
using platform::json::put;
using platform::json::required;

namespace {
const std::pair<AccountStatus, std::string_view> kAccountStatuses[] = {{AccountStatus::active, "ACTIVE"},
                                                                       {AccountStatus::deleted, "DELETED"}};
const std::pair<SigningStatus, std::string_view> kSigningStatuses[] = {{SigningStatus::ready, "READY"},
                                                                       {SigningStatus::missing, "MISSING"}};
}  // namespace

std::string_view rawValue(AccountStatus value) {
    return raw::toRaw(kAccountStatuses, value);
}
std::string_view rawValue(SigningStatus value) {
    return raw::toRaw(kSigningStatuses, value);
}

std::optional<AccountStatus> accountStatusFromRawValue(std::string_view text) {
    return raw::fromRaw(kAccountStatuses, text);
}

std::optional<SigningStatus> signingStatusFromRawValue(std::string_view text) {
    return raw::fromRaw(kSigningStatuses, text);
}

std::optional<std::string> AccountStatusDetails::cannotSignReasonTextInCurrentLanguage() const {
    auto languages = platform::SystemInfo::preferredLanguages();
    if (languages.empty())
        return std::nullopt;
    auto code = languageCode(languages.front());
    if (!code || cannotSignReasonText.empty())
        return std::nullopt;
    if (auto it = cannotSignReasonText.find(*code); it != cannotSignReasonText.end())
        return it->second;
    if (auto it = cannotSignReasonText.find("en"); it != cannotSignReasonText.end())
        return it->second;
    return std::nullopt;
}

GetAccountStatusResponse::Redacted GetAccountStatusResponse::redacted() const {
    return Redacted{*this};
}
GetSigningInfoResponse::Redacted GetSigningInfoResponse::redacted() const {
    return Redacted{*this};
}

void to_json(Json& json, const GetAccountStatusRequest& value) {
    json = Json::object();
    put(json, "authSessionId", value.authSessionId);
}

void to_json(Json& json, const GetSigningInfoRequest& value) {
    json = Json::object();
    put(json, "authSessionId", value.authSessionId);
}

void to_json(Json& json, const DeleteAccountRequest& value) {
    json = Json::object();
    put(json, "authSessionId", value.authSessionId);
    put(json, "reason", value.reason);
}

void to_json(Json& json, const GetAccountStatusResponse::CannotSignReason::Descriptions& value) {
    json = Json::object();
    put(json, "en", value.en);
    put(json, "fr", value.fr);
    put(json, "nl", value.nl);
    put(json, "de", value.de);
}

void from_json(const Json& json, GetAccountStatusResponse::CannotSignReason::Descriptions& value) {
    value.en = required<std::string>(json, "en");
    value.fr = required<std::string>(json, "fr");
    value.nl = required<std::string>(json, "nl");
    value.de = required<std::string>(json, "de");
}

void to_json(Json& json, const GetAccountStatusResponse::CannotSignReason& value) {
    json = Json::object();
    put(json, "code", value.code);
    put(json, "descriptions", value.descriptions);
}

void from_json(const Json& json, GetAccountStatusResponse::CannotSignReason& value) {
    value.code = required<std::string>(json, "code");
    value.descriptions =
        required<GetAccountStatusResponse::CannotSignReason::Descriptions>(json, "descriptions");
}

void to_json(Json& json, const GetAccountStatusResponse& value) {
    json = Json::object();
    put(json, "status", value.status);
    put(json, "lastName", value.lastName);
    put(json, "firstName", value.firstName);
    put(json, "rrnr", value.rrnr);
    put(json, "canSign", value.canSign);
    put(json, "reason", value.reason);
}

void from_json(const Json& json, GetAccountStatusResponse& value) {
    value.status = required<std::string>(json, "status");
    value.lastName = required<std::string>(json, "lastName");
    value.firstName = required<std::string>(json, "firstName");
    value.rrnr = required<std::string>(json, "rrnr");
    value.canSign = optional<bool>(json, "canSign");
    value.reason = optional<GetAccountStatusResponse::CannotSignReason>(json, "reason");
}

void to_json(Json& json, const RedactedGetAccountStatusResponse& value) {
    const std::string redacted = "Redacted";
    json = Json::object();
    put(json, "status", value.base.status);
    put(json, "lastName", redacted);
    put(json, "firstName", redacted);
    put(json, "rrnr", redacted);
    json["canSign"] = value.base.canSign ? Json(*value.base.canSign) : Json(nullptr);
    json["reason"] = value.base.reason ? Json(*value.base.reason) : Json(nullptr);
}

void to_json(Json& json, const GetSigningInfoResponse& value) {
    json = Json::object();
    put(json, "status", value.status);
    put(json, "maxSignatures", value.maxSignatures);
    put(json, "signingCertificate", value.signingCertificate);
    put(json, "certificateChain", value.certificateChain);
}

void from_json(const Json& json, GetSigningInfoResponse& value) {
    value.status = required<std::string>(json, "status");
    value.maxSignatures = required<std::int64_t>(json, "maxSignatures");
    value.signingCertificate = required<std::string>(json, "signingCertificate");
    value.certificateChain = required<std::vector<std::string>>(json, "certificateChain");
}

void to_json(Json& json, const GetSigningInfoResponse::Redacted& value) {
    json = Json::object();
    put(json, "status", value.base.status);
    put(json, "maxSignatures", value.base.maxSignatures);
    put(json, "signingCertificate", std::string("Redacted"));
    put(json, "certificateChain", value.base.certificateChain);
}

std::int64_t parseReasonCode(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty())
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    // Parse with the sign so that the most negative value fits.
    std::string signedText(negative ? "-" : "");
    signedText += digits;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(signedText.data(), signedText.data() + signedText.size(), value);
    if (error != std::errc() || end != signedText.data() + signedText.size())
        return 0;
    return value;
}

AccountStatusDetails mapAccountStatusResponse(const GetAccountStatusResponse& response) {
    AccountStatusDetails details{response.status == "ACTIVE" ? AccountStatus::active : AccountStatus::deleted,
                                 response.lastName,
                                 response.firstName,
                                 response.rrnr,
                                 response.canSign.value_or(true),
                                 parseReasonCode(response.reason ? response.reason->code : "0"),
                                 {}};
    if (response.reason) {
        const auto& d = response.reason->descriptions;
        details.cannotSignReasonText = {{"en", d.en}, {"fr", d.fr}, {"nl", d.nl}, {"de", d.de}};
    }
    return details;
}

SigningInfoDetails mapSigningInfoResponse(const GetSigningInfoResponse& response) {
    SigningInfoDetails details{response.status == "READY" ? SigningStatus::ready : SigningStatus::missing,
                               response.maxSignatures,
                               base64URLDecoded(response.signingCertificate).value_or(platform::Bytes{}),
                               {}};
    for (const auto& entry : response.certificateChain)
        if (auto der = base64URLDecoded(entry))
            details.certificateChain.push_back(std::move(*der));
    return details;
}

}  // namespace halcyra
