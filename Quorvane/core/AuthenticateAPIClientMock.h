#pragma once
// An authentication client for previews and tests: every operation fails with otherError and an empty
// message.
#include "api/Clients.h"

class AuthenticateAPIClientMock final : public halcyra::AuthenticateAPIClient {
  public:
    QCoro::Task<halcyra::AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string loggingIdentifier, halcyra::LevelOfAssurance levelOfAssurance) override;
    QCoro::Task<halcyra::AuthenticationMethodDataResponse> getAuthenticationMethodData(
        halcyra::AuthenticationMethod method, std::string sessionId) override;
    QCoro::Task<halcyra::AuthenticateResult> authenticate(halcyra::AuthenticateRequest request) override;
};
