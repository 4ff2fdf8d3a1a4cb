#include "api/Onboarding.h"

namespace halcyra {

using platform::json::Json;
using platform::json::optional;
using platform::json::put;
using platform::json::required;

SignAgreementRequest::Redacted SignAgreementRequest::redacted() const {
    return Redacted{*this};
}
FileResponse::Redacted FileResponse::redacted() const {
    return Redacted{*this};
}

void to_json(Json& json, const GetAgreementFileRequest& value) {
    json = Json::object();
    put(json, "authSessionId", value.authSessionId);
    put(json, "pdfLanguage", value.pdfLanguage);
}

void to_json(Json& json, const ConfirmUserDataRequest& value) {
    json = Json::object();
    put(json, "authSessionId", value.authSessionId);
    put(json, "uiLanguage", value.uiLanguage);
    put(json, "pdfName", value.pdfName);
}

void to_json(Json& json, const SignAgreementRequest::EID& value) {
    json = Json::object();
    put(json, "authenticationCertificate", value.authenticationCertificate);
    put(json, "signature", value.signature);
}

void to_json(Json& json, const SignAgreementRequest::Wallet& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void to_json(Json& json, const SignAgreementRequest& value) {
    json = Json::object();
    put(json, "onboardingSessionId", value.onboardingSessionId());
    put(json, "eid", value.eid());
    put(json, "wallet", value.wallet());
}

void to_json(Json& json, const RedactedSignAgreementRequest& value) {
    json = Json::object();
    put(json, "onboardingSessionId", value.base.onboardingSessionId());
    put(json, "eid", std::string("Redacted"));
}

void to_json(Json& json, const GetSignedAgreementRequest& value) {
    json = Json::object();
    put(json, "authSessionId", value.authSessionId);
}

void to_json(Json& json, const FileResponse& value) {
    json = Json::object();
    put(json, "bytes", value.bytes);
}

void from_json(const Json& json, FileResponse& value) {
    value.bytes = required<std::string>(json, "bytes");
}

void to_json(Json& json, const RedactedFileResponse&) {
    json = Json::object();
    put(json, "bytes", std::string("Redacted"));
}

void to_json(Json& json, const OnboardingData::EID& value) {
    json = Json::object();
    put(json, "hashToSign", value.hashToSign);
    put(json, "hashAlgorithm", value.hashAlgorithm);
}

void from_json(const Json& json, OnboardingData::EID& value) {
    value.hashToSign = required<std::string>(json, "hashToSign");
    value.hashAlgorithm = required<std::string>(json, "hashAlgorithm");
}

void to_json(Json& json, const OnboardingData::Wallet& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void from_json(const Json& json, OnboardingData::Wallet& value) {
    value.pollSessionId = required<std::string>(json, "pollSessionId");
}

void to_json(Json& json, const OnboardingData& value) {
    json = Json::object();
    put(json, "onboardingSessionId", value.onboardingSessionId);
    put(json, "userAgreementHash", value.userAgreementHash);
    put(json, "eid", value.eid);
    put(json, "wallet", value.wallet);
}

void from_json(const Json& json, OnboardingData& value) {
    value.onboardingSessionId = required<std::string>(json, "onboardingSessionId");
    value.userAgreementHash = required<std::string>(json, "userAgreementHash");
    value.eid = optional<OnboardingData::EID>(json, "eid");
    value.wallet = optional<OnboardingData::Wallet>(json, "wallet");
}

}  // namespace halcyra
