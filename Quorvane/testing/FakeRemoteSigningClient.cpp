#include "FakeRemoteSigningClient.h"

namespace testsupport {

using namespace halcyra;

AccountStatusDetails FakeRemoteSigningClient::activeAccount() {
    AccountStatusDetails details{};
    details.status = AccountStatus::active;
    details.firstName = "Ann";
    details.lastName = "Peeters";
    details.rrnr = "71715100070";
    details.canSign = true;
    return details;
}

QCoro::Task<AccountStatusDetails> FakeRemoteSigningClient::getAccountStatus(std::string authSessionId) {
    log->add("getAccountStatus " + authSessionId);
    accountStatusCalls.requests.push_back(authSessionId);
    decltype(accountStatusCalls)::Answering answering(accountStatusCalls);
    co_await accountStatusCalls.gate.pass();
    accountStatusCalls.failIfSet();
    auto reply = accountStatus;
    if (!statusBySession.empty()) {
        auto found = statusBySession.find(authSessionId);
        if (found == statusBySession.end())
            throw HalcyraError::backendError(500, {}, "unavailable", std::nullopt);
        reply.status = found->second;
    }
    co_return reply;
}

QCoro::Task<SigningInfoDetails> FakeRemoteSigningClient::getSignatureInfo(std::string authSessionId) {
    log->add("getSignatureInfo " + authSessionId);
    signatureInfoCalls.requests.push_back(authSessionId);
    decltype(signatureInfoCalls)::Answering answering(signatureInfoCalls);
    co_await signatureInfoCalls.gate.pass();
    signatureInfoCalls.failIfSet();
    auto reply = signatureInfo;
    co_return reply;
}

QCoro::Task<void> FakeRemoteSigningClient::deleteAccount(std::string authSessionId, std::string reason) {
    log->add("deleteAccount " + authSessionId);
    deleteAccountCalls.requests.emplace_back(authSessionId, reason);
    decltype(deleteAccountCalls)::Answering answering(deleteAccountCalls);
    co_await deleteAccountCalls.gate.pass();
    deleteAccountCalls.failIfSet();
}

QCoro::Task<GetDataToConsentResponse> FakeRemoteSigningClient::getDataToConsent(
    GetDataToConsentRequest request) {
    log->add("getDataToConsent " + request.authSessionId);
    consentCalls.requests.push_back(request);
    const auto number = consentCalls.requests.size();
    decltype(consentCalls)::Answering answering(consentCalls);
    co_await consentCalls.gate.pass();
    consentCalls.failIfSet();
    auto reply = consent;
    reply.consentSessionId = "consent-" + std::to_string(number);
    co_return reply;
}

QCoro::Task<ConsentAndSignHashesResponse> FakeRemoteSigningClient::consentAndSignHashes(
    ConsentAndSignHashesRequest request) {
    log->add("consentAndSignHashes " + request.consentSessionId());
    signCalls.requests.push_back(request);
    decltype(signCalls)::Answering answering(signCalls);
    co_await signCalls.gate.pass();
    signCalls.failIfSet();
    co_return ConsentAndSignHashesResponse{signatures};
}

}  // namespace testsupport
