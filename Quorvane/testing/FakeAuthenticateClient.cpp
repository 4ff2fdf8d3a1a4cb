#include "FakeAuthenticateClient.h"

namespace testsupport {

using namespace halcyra;

QCoro::Task<AuthenticationMethodsResponse> FakeAuthenticateClient::getAuthenticationMethods(
    std::string loggingIdentifier, LevelOfAssurance levelOfAssurance) {
    log->add("getMeans " + loggingIdentifier + " " + std::string(rawValue(levelOfAssurance)));
    meansCalls.requests.emplace_back(loggingIdentifier, levelOfAssurance);
    const auto number = meansCalls.requests.size();
    decltype(meansCalls)::Answering answering(meansCalls);
    co_await meansCalls.gate.pass();
    meansCalls.failIfSet();
    if (forwardTo)
        co_return co_await forwardTo->getAuthenticationMethods(std::move(loggingIdentifier),
                                                               levelOfAssurance);
    co_return AuthenticationMethodsResponse{sessionPrefix + std::to_string(number), methods};
}

QCoro::Task<AuthenticationMethodDataResponse> FakeAuthenticateClient::getAuthenticationMethodData(
    AuthenticationMethod method, std::string sessionId) {
    log->add("getMethodData " + std::string(rawValue(method)) + " " + sessionId);
    methodDataCalls.requests.emplace_back(method, sessionId);
    decltype(methodDataCalls)::Answering answering(methodDataCalls);
    co_await methodDataCalls.gate.pass();
    methodDataCalls.failIfSet();
    if (forwardTo)
        co_return co_await forwardTo->getAuthenticationMethodData(method, std::move(sessionId));
    auto reply = methodData;
    co_return reply;
}

QCoro::Task<AuthenticateResult> FakeAuthenticateClient::authenticate(AuthenticateRequest request) {
    log->add("authenticate " + request.sessionId());
    authenticateCalls.requests.push_back(request);
    decltype(authenticateCalls)::Answering answering(authenticateCalls);
    co_await authenticateCalls.gate.pass();
    authenticateCalls.failIfSet();
    if (forwardTo)
        co_return co_await forwardTo->authenticate(std::move(request));
    co_return AuthenticateResult{AuthenticationState::ready, AuthenticationMethod::eid, expirationDate};
}

}  // namespace testsupport
