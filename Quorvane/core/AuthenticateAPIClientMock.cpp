#include "AuthenticateAPIClientMock.h"

using namespace halcyra;

QCoro::Task<AuthenticationMethodsResponse> AuthenticateAPIClientMock::getAuthenticationMethods(
    std::string, LevelOfAssurance) {
    throw HalcyraError::otherError("");
    co_return {};
}

QCoro::Task<AuthenticationMethodDataResponse> AuthenticateAPIClientMock::getAuthenticationMethodData(
    AuthenticationMethod, std::string) {
    throw HalcyraError::otherError("");
    co_return {};
}

QCoro::Task<AuthenticateResult> AuthenticateAPIClientMock::authenticate(AuthenticateRequest) {
    throw HalcyraError::otherError("");
    co_return {};
}
