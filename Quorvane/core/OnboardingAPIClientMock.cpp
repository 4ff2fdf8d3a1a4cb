#include "OnboardingAPIClientMock.h"

using namespace halcyra;

QCoro::Task<platform::Bytes> OnboardingAPIClientMock::getAgreementFile(GetAgreementFileRequest) {
    co_return platform::Bytes{};
}

QCoro::Task<OnboardingData> OnboardingAPIClientMock::confirmUserData(ConfirmUserDataRequest) {
    throw HalcyraError::otherError("");
    co_return {};
}

QCoro::Task<platform::Bytes> OnboardingAPIClientMock::signAgreement(SignAgreementRequest) {
    co_return platform::Bytes{};
}

QCoro::Task<platform::Bytes> OnboardingAPIClientMock::getSignedAgreementFile(std::string) {
    co_return platform::Bytes{};
}
