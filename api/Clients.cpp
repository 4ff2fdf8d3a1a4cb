#include "api/Clients.h"

#include <chrono>

#include "http/VastelClientProvider.h"
#include "outside/Common/Common.h"

namespace halcyra {

namespace {

// The bytes of a document reply.
platform::Bytes documentBytes(const FileResponse& response) {
    auto bytes = base64URLDecoded(response.bytes);
    if (!bytes)
        throw HalcyraError::otherError("Could not decode base64 string for document");
    return std::move(*bytes);
}

template <class Response>
Response successOrThrow(APIResult<Response>&& result) {
    if (result.kind() != APIResult<Response>::Kind::success)
        throw result.halcyraError();
    return std::move(result).value();
}

std::shared_ptr<vastel::VastelClient> liveVastel(std::string basePath) {
    return vastel::VastelClientProvider::live(vastel::APIEnvironment(std::move(basePath), {}, std::nullopt));
}

}  // namespace

// The operations hand the pipeline everything before their first suspension and do not touch `this`
// afterwards.

QCoro::Task<AuthenticationMethodsResponse> AuthenticateAPIClientLive::getAuthenticationMethods(
    std::string loggingIdentifier, LevelOfAssurance levelOfAssurance) {
    GetMeansRequest body{std::move(loggingIdentifier), std::string(rawValue(levelOfAssurance))};
    auto response = co_await fetch<GetMeansResponse>(*this, "/auth/getMeans", std::move(body));
    co_return mapGetMeansResponse(response);
}

QCoro::Task<AuthenticationMethodDataResponse> AuthenticateAPIClientLive::getAuthenticationMethodData(
    AuthenticationMethod method, std::string sessionId) {
    GetMeansDataRequest body{std::move(sessionId), std::string(rawValue(method))};
    co_return successOrThrow(
        co_await fetchResult<AuthenticationMethodDataResponse>(*this, "/auth/getMeanData", std::move(body)));
}

QCoro::Task<AuthenticateResult> AuthenticateAPIClientLive::authenticate(AuthenticateRequest request) {
    auto response = co_await fetch<AuthenticateResponse>(*this, "/auth/authenticate", std::move(request));
    co_return mapAuthenticateResponse(response, std::chrono::system_clock::now());
}

QCoro::Task<platform::Bytes> OnboardingAPIClientLive::getAgreementFile(GetAgreementFileRequest request) {
    co_return documentBytes(
        co_await fetch<FileResponse>(*this, "/onboarding/getAgreementFile", std::move(request)));
}

QCoro::Task<OnboardingData> OnboardingAPIClientLive::confirmUserData(ConfirmUserDataRequest request) {
    co_return successOrThrow(
        co_await fetchResult<OnboardingData>(*this, "/onboarding/confirmUserData", std::move(request)));
}

QCoro::Task<platform::Bytes> OnboardingAPIClientLive::signAgreement(SignAgreementRequest request) {
    co_return documentBytes(
        co_await fetch<FileResponse>(*this, "/onboarding/signAgreement", std::move(request)));
}

QCoro::Task<platform::Bytes> OnboardingAPIClientLive::getSignedAgreementFile(std::string authSessionId) {
    GetSignedAgreementRequest body{std::move(authSessionId)};
    co_return documentBytes(
        co_await fetch<FileResponse>(*this, "/onboarding/getSignedAgreementFile", std::move(body)));
}

QCoro::Task<AccountStatusDetails> RemoteSigningAPIClientLive::getAccountStatus(std::string authSessionId) {
    GetAccountStatusRequest body{std::move(authSessionId)};
    co_return mapAccountStatusResponse(successOrThrow(
        co_await fetchResult<GetAccountStatusResponse>(*this, "/rsign/getAccountStatus", std::move(body))));
}

QCoro::Task<SigningInfoDetails> RemoteSigningAPIClientLive::getSignatureInfo(std::string authSessionId) {
    GetSigningInfoRequest body{std::move(authSessionId)};
    co_return mapSigningInfoResponse(
        co_await fetch<GetSigningInfoResponse>(*this, "/rsign/getSignatureInfo", std::move(body)));
}

QCoro::Task<void> RemoteSigningAPIClientLive::deleteAccount(std::string authSessionId, std::string reason) {
    // Any 2xx answer means the account is gone; what its body holds does not matter.
    DeleteAccountRequest body{std::move(authSessionId), std::move(reason)};
    successOrThrow(co_await fetchResult<DiscardedBody>(*this, "/rsign/deleteAccount", std::move(body)));
}

QCoro::Task<GetDataToConsentResponse> RemoteSigningAPIClientLive::getDataToConsent(
    GetDataToConsentRequest request) {
    co_return successOrThrow(
        co_await fetchResult<GetDataToConsentResponse>(*this, "/rsign/getDataToConsent", std::move(request)));
}

QCoro::Task<ConsentAndSignHashesResponse> RemoteSigningAPIClientLive::consentAndSignHashes(
    ConsentAndSignHashesRequest request) {
    co_return successOrThrow(co_await fetchResult<ConsentAndSignHashesResponse>(
        *this, "/rsign/consentAndSignHashes", std::move(request)));
}

QCoro::Task<WalletPollingResponse> WalletAPICLientLive::pollWallet(std::string pollingSessionId) {
    PollRequest body{std::move(pollingSessionId)};
    co_return mapPollResponse(co_await fetch<PollResponse>(*this, "/wallet/poll", std::move(body)));
}

std::shared_ptr<AuthenticateAPIClient> HalcyraClientProvider::authenticateClient(
    std::string basePath, std::shared_ptr<LoggerClient> logger) {
    return std::make_shared<AuthenticateAPIClientLive>(liveVastel(std::move(basePath)), std::move(logger));
}

std::shared_ptr<OnboardingAPIClient> HalcyraClientProvider::onboardingClient(
    std::string basePath, std::shared_ptr<LoggerClient> logger) {
    return std::make_shared<OnboardingAPIClientLive>(liveVastel(std::move(basePath)), std::move(logger));
}

std::shared_ptr<RemoteSigningAPIClient> HalcyraClientProvider::remoteSigningClient(
    std::string basePath, std::shared_ptr<LoggerClient> logger) {
    return std::make_shared<RemoteSigningAPIClientLive>(liveVastel(std::move(basePath)), std::move(logger));
}

std::shared_ptr<WalletAPIClient> HalcyraClientProvider::walletClient(std::string basePath,
                                                                     std::shared_ptr<LoggerClient> logger) {
    return std::make_shared<WalletAPICLientLive>(liveVastel(std::move(basePath)), std::move(logger));
}

}  // namespace halcyra
