#pragma once
// An onboarding client for previews and tests: the three file operations give empty bytes, confirming the
// user data fails with otherError and an empty message.
#include "api/Clients.h"

class OnboardingAPIClientMock final : public halcyra::OnboardingAPIClient {
  public:
    QCoro::Task<platform::Bytes> getAgreementFile(halcyra::GetAgreementFileRequest request) override;
    QCoro::Task<halcyra::OnboardingData> confirmUserData(halcyra::ConfirmUserDataRequest request) override;
    QCoro::Task<platform::Bytes> signAgreement(halcyra::SignAgreementRequest request) override;
    QCoro::Task<platform::Bytes> getSignedAgreementFile(std::string authSessionId) override;
};
