#pragma once
// The authentication vocabulary and the wire types of "/auth/getMeans", "/auth/getMeanData" and
// "/auth/authenticate".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Date.h"
#include "platform/Json.h"

namespace halcyra {

enum class AuthenticationMethod { eid, wallet };
enum class LevelOfAssurance { high, substantial };
enum class AuthenticationState { notFound, methodSelected, ready, selectingMethod, expired };

// Raw values ("eid", "high", "MEAN_SELECTED", ...); construction takes exactly these texts, letter case
// included.
std::string_view rawValue(AuthenticationMethod value);
std::string_view rawValue(LevelOfAssurance value);
std::string_view rawValue(AuthenticationState value);
std::optional<AuthenticationMethod> authenticationMethodFromRawValue(std::string_view text);
std::optional<LevelOfAssurance> levelOfAssuranceFromRawValue(std::string_view text);
std::optional<AuthenticationState> authenticationStateFromRawValue(std::string_view text);

// --- Results

struct AuthenticationMethodsResponse {
    struct Method {
        AuthenticationMethod method;
        bool disabled;
        bool operator==(const Method&) const = default;
    };
    std::string sessionId;
    std::vector<Method> methods;
};

// Both the reply of "/auth/getMeanData" and the result of getAuthenticationMethodData.
struct AuthenticationMethodDataResponse {
    struct EID {
        std::string hashToSign;  // Base64url
        std::string hashAlgorithm;
    };
    struct Wallet {
        std::string pollSessionId;
    };
    std::optional<EID> eid;
    std::optional<Wallet> wallet;
};

struct AuthenticateResult {
    AuthenticationState state;
    AuthenticationMethod method;
    platform::Date expirationDate;
};

// --- Requests

// The proof handed in by authenticate(with:): the card's certificate and signature, or a confirmed wallet
// login.
class AuthenticateRequest {
  public:
    struct EID {
        std::string authenticationCertificate;  // standard Base64 of the DER certificate
        std::string signature;                  // standard Base64
    };
    struct Wallet {
        std::string pollSessionId;
    };
    AuthenticateRequest(std::string sessionId, EID eid)
        : sessionId_(std::move(sessionId)), eid_(std::move(eid)) {}
    AuthenticateRequest(std::string sessionId, Wallet wallet)
        : sessionId_(std::move(sessionId)), wallet_(std::move(wallet)) {}

    const std::string& sessionId() const { return sessionId_; }
    const std::optional<EID>& eid() const { return eid_; }
    const std::optional<Wallet>& wallet() const { return wallet_; }

    struct Redacted;
    Redacted redacted() const;

  private:
    std::string sessionId_;
    std::optional<EID> eid_;
    std::optional<Wallet> wallet_;
};

// The log copy: the session id (as its tag, like every log copy) and "eid" as "Redacted" whatever the proof.
struct AuthenticateRequest::Redacted {
    AuthenticateRequest base;
};
using RedactedAuthenticateRequest = AuthenticateRequest::Redacted;

// --- Wire types

struct GetMeansRequest {
    std::string clientData;
    std::string level;
};

struct GetMeansResponse {
    struct Mean {
        std::string mean;
        bool disabled = false;
    };
    std::string sessionId;
    std::vector<Mean> means;
};

struct GetMeansDataRequest {
    std::string sessionId;
    std::string mean;
};

struct AuthenticateResponse {
    std::string state;
    std::string mean;
    std::string expirationTime;
};

void to_json(platform::json::Json& json, const GetMeansRequest& value);
void to_json(platform::json::Json& json, const GetMeansResponse::Mean& value);
void from_json(const platform::json::Json& json, GetMeansResponse::Mean& value);
void to_json(platform::json::Json& json, const GetMeansResponse& value);
void from_json(const platform::json::Json& json, GetMeansResponse& value);
void to_json(platform::json::Json& json, const GetMeansDataRequest& value);
void to_json(platform::json::Json& json, const AuthenticationMethodDataResponse::EID& value);
void from_json(const platform::json::Json& json, AuthenticationMethodDataResponse::EID& value);
void to_json(platform::json::Json& json, const AuthenticationMethodDataResponse::Wallet& value);
void from_json(const platform::json::Json& json, AuthenticationMethodDataResponse::Wallet& value);
void to_json(platform::json::Json& json, const AuthenticationMethodDataResponse& value);
void from_json(const platform::json::Json& json, AuthenticationMethodDataResponse& value);
void to_json(platform::json::Json& json, const AuthenticateRequest::EID& value);
void to_json(platform::json::Json& json, const AuthenticateRequest::Wallet& value);
void to_json(platform::json::Json& json, const AuthenticateRequest& value);
void to_json(platform::json::Json& json, const RedactedAuthenticateRequest& value);
void to_json(platform::json::Json& json, const AuthenticateResponse& value);
void from_json(const platform::json::Json& json, AuthenticateResponse& value);

// The result of a decoded reply.
AuthenticationMethodsResponse mapGetMeansResponse(const GetMeansResponse& response);
AuthenticateResult mapAuthenticateResponse(const AuthenticateResponse& response, platform::Date now);

}  // namespace halcyra
