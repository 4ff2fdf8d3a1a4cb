#include "RemoteSigningAPIClientMock.h"

using namespace halcyra;

QCoro::Task<AccountStatusDetails> RemoteSigningAPIClientMock::getAccountStatus(std::string) {
    throw HalcyraError::otherError("");
    co_return {};
}

QCoro::Task<SigningInfoDetails> RemoteSigningAPIClientMock::getSignatureInfo(std::string) {
    throw HalcyraError::otherError("");
    co_return {};
}

QCoro::Task<void> RemoteSigningAPIClientMock::deleteAccount(std::string, std::string) {
    throw HalcyraError::otherError("");
    co_return;
}

QCoro::Task<GetDataToConsentResponse> RemoteSigningAPIClientMock::getDataToConsent(GetDataToConsentRequest) {
    throw HalcyraError::otherError("");
    co_return {};
}

QCoro::Task<ConsentAndSignHashesResponse> RemoteSigningAPIClientMock::consentAndSignHashes(
    ConsentAndSignHashesRequest) {
    throw HalcyraError::otherError("");
    co_return {};
}
