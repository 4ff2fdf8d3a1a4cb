#include "api/Authentication.h"

#include "api/RawValues.h"
#include "api/ResultDate.h"

namespace halcyra {

using platform::json::Json;
using platform::json::optional;
using platform::json::put;
using platform::json::required;

using raw::fromRaw;
using raw::toRaw;

namespace {

const std::pair<AuthenticationMethod, std::string_view> kMethods[] = {
    {AuthenticationMethod::eid, "eid"}, {AuthenticationMethod::wallet, "wallet"}};
const std::pair<LevelOfAssurance, std::string_view> kLevels[] = {
    {LevelOfAssurance::high, "high"}, {LevelOfAssurance::substantial, "substantial"}};
const std::pair<AuthenticationState, std::string_view> kStates[] = {
    {AuthenticationState::notFound, "NOT_FOUND"},
    {AuthenticationState::methodSelected, "MEAN_SELECTED"},
    {AuthenticationState::ready, "READY"},
    {AuthenticationState::selectingMethod, "SELECTING_MEAN"},
    {AuthenticationState::expired, "EXPIRED"}};

}  // namespace

std::string_view rawValue(AuthenticationMethod value) {
    return toRaw(kMethods, value);
}
std::string_view rawValue(LevelOfAssurance value) {
    return toRaw(kLevels, value);
}
std::string_view rawValue(AuthenticationState value) {
    return toRaw(kStates, value);
}
std::optional<AuthenticationMethod> authenticationMethodFromRawValue(std::string_view text) {
    return fromRaw(kMethods, text);
}
std::optional<LevelOfAssurance> levelOfAssuranceFromRawValue(std::string_view text) {
    return fromRaw(kLevels, text);
}
std::optional<AuthenticationState> authenticationStateFromRawValue(std::string_view text) {
    return fromRaw(kStates, text);
}

AuthenticateRequest::Redacted AuthenticateRequest::redacted() const {
    return Redacted{*this};
}

void to_json(Json& json, const GetMeansRequest& value) {
    json = Json::object();
    put(json, "clientData", value.clientData);
    put(json, "level", value.level);
}

void to_json(Json& json, const GetMeansResponse::Mean& value) {
    json = Json::object();
    put(json, "mean", value.mean);
    put(json, "disabled", value.disabled);
}

void from_json(const Json& json, GetMeansResponse::Mean& value) {
    value.mean = required<std::string>(json, "mean");
    value.disabled = required<bool>(json, "disabled");
}

void to_json(Json& json, const GetMeansResponse& value) {
    json = Json::object();
    put(json, "sessionId", value.sessionId);
    put(json, "means", value.means);
}

void from_json(const Json& json, GetMeansResponse& value) {
    value.sessionId = required<std::string>(json, "sessionId");
    value.means = required<std::vector<GetMeansResponse::Mean>>(json, "means");
}

void to_json(Json& json, const GetMeansDataRequest& value) {
    json = Json::object();
    put(json, "sessionId", value.sessionId);
    put(json, "mean", value.mean);
}

void to_json(Json& json, const AuthenticationMethodDataResponse::EID& value) {
    json = Json::object();
    put(json, "hashToSign", value.hashToSign);
    put(json, "hashAlgorithm", value.hashAlgorithm);
}

void from_json(const Json& json, AuthenticationMethodDataResponse::EID& value) {
    value.hashToSign = required<std::string>(json, "hashToSign");
    value.hashAlgorithm = required<std::string>(json, "hashAlgorithm");
}

void to_json(Json& json, const AuthenticationMethodDataResponse::Wallet& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void from_json(const Json& json, AuthenticationMethodDataResponse::Wallet& value) {
    value.pollSessionId = required<std::string>(json, "pollSessionId");
}

void to_json(Json& json, const AuthenticationMethodDataResponse& value) {
    json = Json::object();
    put(json, "eid", value.eid);
    put(json, "wallet", value.wallet);
}

void from_json(const Json& json, AuthenticationMethodDataResponse& value) {
    value.eid = optional<AuthenticationMethodDataResponse::EID>(json, "eid");
    value.wallet = optional<AuthenticationMethodDataResponse::Wallet>(json, "wallet");
}

void to_json(Json& json, const AuthenticateRequest::EID& value) {
    json = Json::object();
    put(json, "authenticationCertificate", value.authenticationCertificate);
    put(json, "signature", value.signature);
}

void to_json(Json& json, const AuthenticateRequest::Wallet& value) {
    json = Json::object();
    put(json, "pollSessionId", value.pollSessionId);
}

void to_json(Json& json, const AuthenticateRequest& value) {
    json = Json::object();
    put(json, "sessionId", value.sessionId());
    put(json, "eid", value.eid());
    put(json, "wallet", value.wallet());
}

void to_json(Json& json, const RedactedAuthenticateRequest& value) {
    json = Json::object();
    put(json, "sessionId", value.base.sessionId());
    put(json, "eid", std::string("Redacted"));
}

void to_json(Json& json, const AuthenticateResponse& value) {
    json = Json::object();
    put(json, "state", value.state);
    put(json, "mean", value.mean);
    put(json, "expirationTime", value.expirationTime);
}

void from_json(const Json& json, AuthenticateResponse& value) {
    value.state = required<std::string>(json, "state");
    value.mean = required<std::string>(json, "mean");
    value.expirationTime = required<std::string>(json, "expirationTime");
}

AuthenticationMethodsResponse mapGetMeansResponse(const GetMeansResponse& response) {
    AuthenticationMethodsResponse result{response.sessionId, {}};
    for (const auto& mean : response.means) {
        // Means this client does not know are left out.
        if (auto method = authenticationMethodFromRawValue(mean.mean))
            result.methods.push_back({*method, mean.disabled});
    }
    return result;
}

AuthenticateResult mapAuthenticateResponse(const AuthenticateResponse& response, platform::Date now) {
    return AuthenticateResult{
        authenticationStateFromRawValue(response.state).value_or(AuthenticationState::notFound),
        response.mean == "wallet" ? AuthenticationMethod::wallet : AuthenticationMethod::eid,
        parseResultDate(response.expirationTime).value_or(now)};
}

}  // namespace halcyra
