#pragma once
// The wire types of the onboarding endpoints: the subscriber agreement, the identity-data confirmation and
// the agreement signature.
#include <optional>
#include <string>

#include "platform/Json.h"

namespace halcyra {

struct GetAgreementFileRequest {
    std::string authSessionId;
    std::string pdfLanguage;
};

struct ConfirmUserDataRequest {
    std::string authSessionId;
    std::string uiLanguage;
    std::string pdfName;
};

// One and only one proof: the card's certificate and signature, or a confirmed wallet login.
class SignAgreementRequest {
  public:
    struct EID {
        std::string authenticationCertificate;  // standard Base64 of the DER certificate
        std::string signature;                  // standard Base64
    };
    struct Wallet {
        std::string pollSessionId;
    };
    SignAgreementRequest(std::string onboardingSessionId, EID eid)
        : onboardingSessionId_(std::move(onboardingSessionId)), eid_(std::move(eid)) {}
    SignAgreementRequest(std::string onboardingSessionId, Wallet wallet)
        : onboardingSessionId_(std::move(onboardingSessionId)), wallet_(std::move(wallet)) {}

    const std::string& onboardingSessionId() const { return onboardingSessionId_; }
    const std::optional<EID>& eid() const { return eid_; }
    const std::optional<Wallet>& wallet() const { return wallet_; }

    struct Redacted;
    Redacted redacted() const;

  private:
    std::string onboardingSessionId_;
    std::optional<EID> eid_;
    std::optional<Wallet> wallet_;
};

struct SignAgreementRequest::Redacted {
    SignAgreementRequest base;
};
using RedactedSignAgreementRequest = SignAgreementRequest::Redacted;

struct GetSignedAgreementRequest {
    std::string authSessionId;
};

// A PDF document as Base64url text.
struct FileResponse {
    std::string bytes;

    struct Redacted;
    Redacted redacted() const;
};

struct FileResponse::Redacted {
    FileResponse base;
};
using RedactedFileResponse = FileResponse::Redacted;

struct OnboardingData {
    struct EID {
        std::string hashToSign;  // Base64url
        std::string hashAlgorithm;
    };
    struct Wallet {
        std::string pollSessionId;
    };
    std::string onboardingSessionId;
    std::string userAgreementHash;
    std::optional<EID> eid;
    std::optional<Wallet> wallet;
};

void to_json(platform::json::Json& json, const GetAgreementFileRequest& value);
void to_json(platform::json::Json& json, const ConfirmUserDataRequest& value);
void to_json(platform::json::Json& json, const SignAgreementRequest::EID& value);
void to_json(platform::json::Json& json, const SignAgreementRequest::Wallet& value);
void to_json(platform::json::Json& json, const SignAgreementRequest& value);
void to_json(platform::json::Json& json, const RedactedSignAgreementRequest& value);
void to_json(platform::json::Json& json, const GetSignedAgreementRequest& value);
void to_json(platform::json::Json& json, const FileResponse& value);
void from_json(const platform::json::Json& json, FileResponse& value);
void to_json(platform::json::Json& json, const RedactedFileResponse& value);
void to_json(platform::json::Json& json, const OnboardingData::EID& value);
void from_json(const platform::json::Json& json, OnboardingData::EID& value);
void to_json(platform::json::Json& json, const OnboardingData::Wallet& value);
void from_json(const platform::json::Json& json, OnboardingData::Wallet& value);
void to_json(platform::json::Json& json, const OnboardingData& value);
void from_json(const platform::json::Json& json, OnboardingData& value);

}  // namespace halcyra
