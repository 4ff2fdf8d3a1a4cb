#pragma once
// The wire types of "/rsign/getDataToConsent" and "/rsign/consentAndSignHashes".
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.h"

namespace halcyra {

struct GetDataToConsentRequest {
    struct HashToSign {
        std::string label;
        std::string hash;  // standard Base64
    };
    std::string clientData;
    std::string authSessionId;
    std::string hashAlgorithmOID;
    std::vector<HashToSign> hashesToSign;
};

struct GetDataToConsentResponse {
    struct EID {
        std::string hashToSign;  // Base64url
        std::string hashAlgorithm;
    };
    struct Wallet {
        std::string pollSessionId;
    };
    std::string consentSessionId;
    std::optional<EID> eid;
    std::optional<Wallet> wallet;
};

// One and only one proof of consent: the card's signature over the hash to sign, or a confirmed wallet login.
class ConsentAndSignHashesRequest {
  public:
    struct EID {
        std::string authenticationCertificate;  // standard Base64 of the DER certificate
        std::string signature;                  // standard Base64
    };
    struct Wallet {
        std::string pollSessionId;
    };
    ConsentAndSignHashesRequest(std::string consentSessionId, EID eid)
        : consentSessionId_(std::move(consentSessionId)), eid_(std::move(eid)) {}
    ConsentAndSignHashesRequest(std::string consentSessionId, Wallet wallet)
        : consentSessionId_(std::move(consentSessionId)), wallet_(std::move(wallet)) {}

    const std::string& consentSessionId() const { return consentSessionId_; }
    const std::optional<EID>& eid() const { return eid_; }
    const std::optional<Wallet>& wallet() const { return wallet_; }

    struct Redacted;
    Redacted redacted() const;

  private:
    std::string consentSessionId_;
    std::optional<EID> eid_;
    std::optional<Wallet> wallet_;
};

struct ConsentAndSignHashesRequest::Redacted {
    ConsentAndSignHashesRequest base;
};
using RedactedConsentAndSignHashesRequest = ConsentAndSignHashesRequest::Redacted;

struct ConsentAndSignHashesResponse {
    std::vector<std::string> signatures;  // Base64url

    struct Redacted;
    Redacted redacted() const;
};

// The log copy: the signatures show as "Redacted".
struct ConsentAndSignHashesResponse::Redacted {
    ConsentAndSignHashesResponse base;
};

void to_json(platform::json::Json& json, const GetDataToConsentRequest::HashToSign& value);
void to_json(platform::json::Json& json, const GetDataToConsentRequest& value);
void to_json(platform::json::Json& json, const GetDataToConsentResponse::EID& value);
void from_json(const platform::json::Json& json, GetDataToConsentResponse::EID& value);
void to_json(platform::json::Json& json, const GetDataToConsentResponse::Wallet& value);
void from_json(const platform::json::Json& json, GetDataToConsentResponse::Wallet& value);
void to_json(platform::json::Json& json, const GetDataToConsentResponse& value);
void from_json(const platform::json::Json& json, GetDataToConsentResponse& value);
void to_json(platform::json::Json& json, const ConsentAndSignHashesRequest::EID& value);
void to_json(platform::json::Json& json, const ConsentAndSignHashesRequest::Wallet& value);
void to_json(platform::json::Json& json, const ConsentAndSignHashesRequest& value);
void to_json(platform::json::Json& json, const RedactedConsentAndSignHashesRequest& value);
void to_json(platform::json::Json& json, const ConsentAndSignHashesResponse& value);
void from_json(const platform::json::Json& json, ConsentAndSignHashesResponse& value);
void to_json(platform::json::Json& json, const ConsentAndSignHashesResponse::Redacted& value);

}  // namespace halcyra
