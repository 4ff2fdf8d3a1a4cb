#include "api/Consent.h"

namespace halcyra {

using platform::json::Json;
using platform::json::optional;
using platform::json::put;
using platform::json::required;

ConsentAndSignHashesRequest::Redacted ConsentAndSignHashesRequest::redacted() const {
    return Redacted{*this};
}
ConsentAndSignHashesResponse::Redacted ConsentAndSignHashesResponse::redacted() const {
    return Redacted{*this};
}

void to_json(Json& json, const GetDataToConsentRequest::HashToSign& value) {
    json = Json::object();
    put(json, "label", value.label);
    put(json, "hash", value.hash);
}

void to_json(Json& json, const GetDataToConsentRequest& value) {
    json = Json::object();
    put(json, "clientData", value.clientData);
    put(json, "authSessionId", value.authSessionId);
    put(json, "hashAlgorithmOID", value.hashAlgorithmOID);
    json["hashesToSign"] = Json::array();
    for (const auto& hash : value.hashesToSign)
        json["hashesToSign"].push_back(hash);
}

void to_json(Json& json, const GetDataToConsentResponse::EID& value) {
    json = Json::object();
    put(json, "hashToSign", value.hashToSign);
    put(json, "hashAlgorithm", value.hashAlgorithm);
}

void from_json(const Json& json, GetDataToConsentResponse::EID& value) {
    value.hashToSign = required<std::string>(json, "hashToSign");
    value.hashAlgorithm = required<std::string>(json, "hashAlgorithm");
}

void to_json(Json& json, const GetDataToConsentResponse::Wallet& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void from_json(const Json& json, GetDataToConsentResponse::Wallet& value) {
    value.pollSessionId = required<std::string>(json, "pollSessionId");
}

void to_json(Json& json, const GetDataToConsentResponse& value) {
    json = Json::object();
    put(json, "consentSessionId", value.consentSessionId);
    put(json, "eid", value.eid);
    put(json, "wallet", value.wallet);
}

void from_json(const Json& json, GetDataToConsentResponse& value) {
    value.consentSessionId = required<std::string>(json, "consentSessionId");
    value.eid = optional<GetDataToConsentResponse::EID>(json, "eid");
    value.wallet = optional<GetDataToConsentResponse::Wallet>(json, "wallet");
}

void to_json(Json& json, const ConsentAndSignHashesRequest::EID& value) {
    json = Json::object();
    put(json, "authenticationCertificate", value.authenticationCertificate);
    put(json, "signature", value.signature);
}

void to_json(Json& json, const ConsentAndSignHashesRequest::Wallet& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void to_json(Json& json, const ConsentAndSignHashesRequest& value) {
    json = Json::object();
    put(json, "consentSessionId", value.consentSessionId());
    put(json, "eid", value.eid());
    put(json, "wallet", value.wallet());
}

void to_json(Json& json, const RedactedConsentAndSignHashesRequest& value) {
    json = Json::object();
    put(json, "consentSessionId", value.base.consentSessionId());
    put(json, "eid", std::string("Redacted"));
}

void to_json(Json& json, const ConsentAndSignHashesResponse& value) {
    json = Json::object();
    put(json, "signatures", value.signatures);
}

void from_json(const Json& json, ConsentAndSignHashesResponse& value) {
    value.signatures = required<std::vector<std::string>>(json, "signatures");
}

void to_json(Json& json, const ConsentAndSignHashesResponse::Redacted&) {
    json = Json::object();
    put(json, "signatures", std::string("Redacted"));
}

}  // namespace halcyra
