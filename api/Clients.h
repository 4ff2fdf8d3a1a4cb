#pragma once
// Halcyra's public face: the four API client interfaces, their live implementations and the provider that
// makes them for a base path and a logger.
#include <memory>
#include <string>

#include <qcoro/qcorotask.h>

#include "api/Account.h"
#include "api/Authentication.h"
#include "api/Consent.h"
#include "api/Onboarding.h"
#include "api/Pipeline.h"
#include "api/Wallet.h"
#include "http/VastelClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Bytes.h"

namespace halcyra {

// Every operation fails only with HalcyraError. A client must outlive the operations it runs.
class AuthenticateAPIClient {
  public:
    virtual ~AuthenticateAPIClient() = default;
    virtual QCoro::Task<AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string loggingIdentifier, LevelOfAssurance levelOfAssurance) = 0;
    virtual QCoro::Task<AuthenticationMethodDataResponse> getAuthenticationMethodData(
        AuthenticationMethod method, std::string sessionId) = 0;
    virtual QCoro::Task<AuthenticateResult> authenticate(AuthenticateRequest request) = 0;
};

class OnboardingAPIClient {
  public:
    virtual ~OnboardingAPIClient() = default;
    virtual QCoro::Task<platform::Bytes> getAgreementFile(GetAgreementFileRequest request) = 0;
    virtual QCoro::Task<OnboardingData> confirmUserData(ConfirmUserDataRequest request) = 0;
    virtual QCoro::Task<platform::Bytes> signAgreement(SignAgreementRequest request) = 0;
    virtual QCoro::Task<platform::Bytes> getSignedAgreementFile(std::string authSessionId) = 0;
};

class RemoteSigningAPIClient {
  public:
    virtual ~RemoteSigningAPIClient() = default;
    virtual QCoro::Task<AccountStatusDetails> getAccountStatus(std::string authSessionId) = 0;
    virtual QCoro::Task<SigningInfoDetails> getSignatureInfo(std::string authSessionId) = 0;
    virtual QCoro::Task<void> deleteAccount(std::string authSessionId, std::string reason) = 0;
    virtual QCoro::Task<GetDataToConsentResponse> getDataToConsent(GetDataToConsentRequest request) = 0;
    virtual QCoro::Task<ConsentAndSignHashesResponse> consentAndSignHashes(
        ConsentAndSignHashesRequest request) = 0;
};

class WalletAPIClient {
  public:
    virtual ~WalletAPIClient() = default;
    virtual QCoro::Task<WalletPollingResponse> pollWallet(std::string pollingSessionId) = 0;
};

// The two fields every live client has, set once.
class HalcyraClientBase : public HalcyraProviding {
  public:
    HalcyraClientBase(std::shared_ptr<vastel::VastelClient> vastel, std::shared_ptr<LoggerClient> logger)
        : vastel(std::move(vastel)), logger(std::move(logger)) {}
    std::shared_ptr<vastel::VastelClient> providedVastel() const override { return vastel; }
    std::shared_ptr<LoggerClient> providedLogger() const override { return logger; }

    const std::shared_ptr<vastel::VastelClient> vastel;
    const std::shared_ptr<LoggerClient> logger;
};

class AuthenticateAPIClientLive final : public AuthenticateAPIClient, public HalcyraClientBase {
  public:
    using HalcyraClientBase::HalcyraClientBase;
    QCoro::Task<AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string loggingIdentifier, LevelOfAssurance levelOfAssurance) override;
    QCoro::Task<AuthenticationMethodDataResponse> getAuthenticationMethodData(AuthenticationMethod method,
                                                                              std::string sessionId) override;
    QCoro::Task<AuthenticateResult> authenticate(AuthenticateRequest request) override;
};

class OnboardingAPIClientLive final : public OnboardingAPIClient, public HalcyraClientBase {
  public:
    using HalcyraClientBase::HalcyraClientBase;
    QCoro::Task<platform::Bytes> getAgreementFile(GetAgreementFileRequest request) override;
    QCoro::Task<OnboardingData> confirmUserData(ConfirmUserDataRequest request) override;
    QCoro::Task<platform::Bytes> signAgreement(SignAgreementRequest request) override;
    QCoro::Task<platform::Bytes> getSignedAgreementFile(std::string authSessionId) override;
};

class RemoteSigningAPIClientLive final : public RemoteSigningAPIClient, public HalcyraClientBase {
  public:
    using HalcyraClientBase::HalcyraClientBase;
    QCoro::Task<AccountStatusDetails> getAccountStatus(std::string authSessionId) override;
    QCoro::Task<SigningInfoDetails> getSignatureInfo(std::string authSessionId) override;
    QCoro::Task<void> deleteAccount(std::string authSessionId, std::string reason) override;
    QCoro::Task<GetDataToConsentResponse> getDataToConsent(GetDataToConsentRequest request) override;
    QCoro::Task<ConsentAndSignHashesResponse> consentAndSignHashes(
        ConsentAndSignHashesRequest request) override;
};

class WalletAPICLientLive final : public WalletAPIClient, public HalcyraClientBase {
  public:
    using HalcyraClientBase::HalcyraClientBase;
    QCoro::Task<WalletPollingResponse> pollWallet(std::string pollingSessionId) override;
};

// Each call makes a new client with its own HTTP client (no pinned certificates, no client identity).
struct HalcyraClientProvider {
    static std::shared_ptr<AuthenticateAPIClient> authenticateClient(std::string basePath,
                                                                     std::shared_ptr<LoggerClient> logger);
    static std::shared_ptr<OnboardingAPIClient> onboardingClient(std::string basePath,
                                                                 std::shared_ptr<LoggerClient> logger);
    static std::shared_ptr<RemoteSigningAPIClient> remoteSigningClient(std::string basePath,
                                                                       std::shared_ptr<LoggerClient> logger);
    static std::shared_ptr<WalletAPIClient> walletClient(std::string basePath,
                                                         std::shared_ptr<LoggerClient> logger);
};

}  // namespace halcyra
