#pragma once
// A remote-signing client for previews and tests: every operation fails with otherError and an empty message.
#include "api/Clients.h"

class RemoteSigningAPIClientMock final : public halcyra::RemoteSigningAPIClient {
  public:
    QCoro::Task<halcyra::AccountStatusDetails> getAccountStatus(std::string authSessionId) override;
    QCoro::Task<halcyra::SigningInfoDetails> getSignatureInfo(std::string authSessionId) override;
    QCoro::Task<void> deleteAccount(std::string authSessionId, std::string reason) override;
    QCoro::Task<halcyra::GetDataToConsentResponse> getDataToConsent(
        halcyra::GetDataToConsentRequest request) override;
    QCoro::Task<halcyra::ConsentAndSignHashesResponse> consentAndSignHashes(
        halcyra::ConsentAndSignHashesRequest request) override;
};
