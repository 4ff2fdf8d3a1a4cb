#pragma once
// The authentication client of the tests: it answers as it is set up, records every call (in its log, one
// line each, and the requests per operation) and can hold, fail, or pass its calls on to another client (a
// live one, to count what reaches the server).
//
//   getAuthenticationMethods     a new session "<sessionPrefix><n>" (n counts the calls) offering `methods`
//   getAuthenticationMethodData  `methodData`
//   authenticate                 ready, by card, until `expirationDate`
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CallLog.h"
#include "Calls.h"
#include "api/Clients.h"

namespace testsupport {

class FakeAuthenticateClient : public halcyra::AuthenticateAPIClient {
  public:
    std::vector<halcyra::AuthenticationMethodsResponse::Method> methods{
        {halcyra::AuthenticationMethod::eid, false}, {halcyra::AuthenticationMethod::wallet, false}};
    std::string sessionPrefix = "session-";
    halcyra::AuthenticationMethodDataResponse methodData;
    platform::Date expirationDate = platform::Date(std::chrono::seconds(1'900'000'000));
    // Every call goes there, once recorded and let through the gate.
    std::shared_ptr<halcyra::AuthenticateAPIClient> forwardTo;

    // "getMeans <logging identifier> <level>", "getMethodData <method> <session>", "authenticate <session>".
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    Calls<std::pair<std::string, halcyra::LevelOfAssurance>> meansCalls;
    Calls<std::pair<halcyra::AuthenticationMethod, std::string>> methodDataCalls;
    Calls<halcyra::AuthenticateRequest> authenticateCalls;

    QCoro::Task<halcyra::AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string loggingIdentifier, halcyra::LevelOfAssurance levelOfAssurance) override;
    QCoro::Task<halcyra::AuthenticationMethodDataResponse> getAuthenticationMethodData(
        halcyra::AuthenticationMethod method, std::string sessionId) override;
    QCoro::Task<halcyra::AuthenticateResult> authenticate(halcyra::AuthenticateRequest request) override;
};

}  // namespace testsupport
