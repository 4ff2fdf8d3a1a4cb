#include "FakeOnboardingClient.h"

namespace testsupport {

using namespace halcyra;

QCoro::Task<platform::Bytes> FakeOnboardingClient::getAgreementFile(GetAgreementFileRequest request) {
    log->add("getAgreementFile " + request.authSessionId);
    agreementCalls.requests.push_back(request);
    decltype(agreementCalls)::Answering answering(agreementCalls);
    co_await agreementCalls.gate.pass();
    agreementCalls.failIfSet();
    auto reply = agreement;
    co_return reply;
}

QCoro::Task<OnboardingData> FakeOnboardingClient::confirmUserData(ConfirmUserDataRequest request) {
    log->add("confirmUserData " + request.authSessionId);
    confirmCalls.requests.push_back(request);
    const auto number = std::to_string(confirmCalls.requests.size());
    decltype(confirmCalls)::Answering answering(confirmCalls);
    co_await confirmCalls.gate.pass();
    confirmCalls.failIfSet();
    OnboardingData data;
    data.onboardingSessionId = "onboarding-" + number;
    data.eid = eid;
    if (withWallet)
        data.wallet = OnboardingData::Wallet{"poll-" + number};
    co_return data;
}

QCoro::Task<platform::Bytes> FakeOnboardingClient::signAgreement(SignAgreementRequest request) {
    log->add("signAgreement " + request.onboardingSessionId());
    signCalls.requests.push_back(request);
    decltype(signCalls)::Answering answering(signCalls);
    co_await signCalls.gate.pass();
    signCalls.failIfSet();
    auto reply = signedAgreement;
    co_return reply;
}

QCoro::Task<platform::Bytes> FakeOnboardingClient::getSignedAgreementFile(std::string authSessionId) {
    log->add("getSignedAgreementFile " + authSessionId);
    signedAgreementCalls.requests.push_back(authSessionId);
    decltype(signedAgreementCalls)::Answering answering(signedAgreementCalls);
    co_await signedAgreementCalls.gate.pass();
    signedAgreementCalls.failIfSet();
    auto reply = signedAgreement;
    co_return reply;
}

}  // namespace testsupport
