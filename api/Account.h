#pragma once
// The wire types and results of the account endpoints: status, signing certificate and deletion.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Json.h"

namespace halcyra {

enum class AccountStatus { active, deleted };
enum class SigningStatus { ready, missing };

std::string_view rawValue(AccountStatus value);
std::string_view rawValue(SigningStatus value);
std::optional<AccountStatus> accountStatusFromRawValue(std::string_view text);
std::optional<SigningStatus> signingStatusFromRawValue(std::string_view text);

struct AccountStatusDetails {
    AccountStatus status;
    std::string lastName;
    std::string firstName;
    std::string rrnr;
    bool canSign;
    std::int64_t cannotSignReasonCode;
    std::map<std::string, std::string> cannotSignReasonText;

    // The reason in the user's first preferred language, else in English; nothing without a reason, without
    // preferred languages or when the first one has no language code.
    std::optional<std::string> cannotSignReasonTextInCurrentLanguage() const;
};

struct SigningInfoDetails {
    SigningStatus status;
    std::int64_t maxSignatures;
    platform::Bytes signingCertificate;
    std::vector<platform::Bytes> certificateChain;
};

struct GetAccountStatusRequest {
    std::string authSessionId;
};
struct GetSigningInfoRequest {
    std::string authSessionId;
};
struct DeleteAccountRequest {
    std::string authSessionId;
    std::string reason;
};

struct GetAccountStatusResponse {
    struct CannotSignReason {
        struct Descriptions {
            std::string en;
            std::string fr;
            std::string nl;
            std::string de;
        };
        std::string code;
        Descriptions descriptions;
    };
    std::string status;
    std::string lastName;
    std::string firstName;
    std::string rrnr;
    std::optional<bool> canSign;
    std::optional<CannotSignReason> reason;

    struct Redacted;
    Redacted redacted() const;
};

// The log copy: the holder's names and national register number show as "Redacted".
struct GetAccountStatusResponse::Redacted {
    GetAccountStatusResponse base;
};
using RedactedGetAccountStatusResponse = GetAccountStatusResponse::Redacted;

struct GetSigningInfoResponse {
    std::string status;
    std::int64_t maxSignatures = 0;
    std::string signingCertificate;  // Base64url DER
    std::vector<std::string> certificateChain;

    struct Redacted;
    Redacted redacted() const;
};

// The log copy: the signing certificate (it names the holder) shows as "Redacted".
struct GetSigningInfoResponse::Redacted {
    GetSigningInfoResponse base;
};

void to_json(platform::json::Json& json, const GetAccountStatusRequest& value);
void to_json(platform::json::Json& json, const GetSigningInfoRequest& value);
void to_json(platform::json::Json& json, const DeleteAccountRequest& value);
void to_json(platform::json::Json& json,
             const GetAccountStatusResponse::CannotSignReason::Descriptions& value);
void from_json(const platform::json::Json& json,
               GetAccountStatusResponse::CannotSignReason::Descriptions& value);
void to_json(platform::json::Json& json, const GetAccountStatusResponse::CannotSignReason& value);
void from_json(const platform::json::Json& json, GetAccountStatusResponse::CannotSignReason& value);
void to_json(platform::json::Json& json, const GetAccountStatusResponse& value);
void from_json(const platform::json::Json& json, GetAccountStatusResponse& value);
void to_json(platform::json::Json& json, const RedactedGetAccountStatusResponse& value);
void to_json(platform::json::Json& json, const GetSigningInfoResponse& value);
void from_json(const platform::json::Json& json, GetSigningInfoResponse& value);
void to_json(platform::json::Json& json, const GetSigningInfoResponse::Redacted& value);

// "[+-]?digits" within the signed 64-bit range; 0 for any other text.
std::int64_t parseReasonCode(std::string_view text);

AccountStatusDetails mapAccountStatusResponse(const GetAccountStatusResponse& response);
SigningInfoDetails mapSigningInfoResponse(const GetSigningInfoResponse& response);

}  // namespace halcyra
