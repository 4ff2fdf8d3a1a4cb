#include "sim/testing/WalletAccount.h"

#include <memory>

#include "api/Clients.h"
#include "platform/testing/Await.h"

namespace simtest {

platform::Bytes walletAccount(const SimServerProcess& server) {
    using namespace halcyra;
    auto logger = std::make_shared<LoggerClient>("tests");
    auto auth = HalcyraClientProvider::authenticateClient(server.basePath(), logger);
    auto onboarding = HalcyraClientProvider::onboardingClient(server.basePath(), logger);
    auto remote = HalcyraClientProvider::remoteSigningClient(server.basePath(), logger);
    auto confirm = [&](const std::string& pollSessionId) {
        server.control("/wallet",
                       platform::json::Json{{"pollSessionId", pollSessionId}, {"state", "AUTHENTICATED"}});
    };

    const auto sessionId =
        testsupport::await(auth->getAuthenticationMethods("tests", LevelOfAssurance::high)).sessionId;
    const auto login =
        testsupport::await(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, sessionId))
            .wallet.value();
    confirm(login.pollSessionId);
    testsupport::await(
        auth->authenticate(AuthenticateRequest(sessionId, AuthenticateRequest::Wallet{login.pollSessionId})));
    const auto agreement =
        testsupport::await(onboarding->confirmUserData({sessionId, "en", "UserAgreement.pdf"}));
    confirm(agreement.wallet.value().pollSessionId);
    testsupport::await(onboarding->signAgreement(
        SignAgreementRequest(agreement.onboardingSessionId,
                             SignAgreementRequest::Wallet{agreement.wallet.value().pollSessionId})));
    return testsupport::await(remote->getSignatureInfo(sessionId)).signingCertificate;
}

}  // namespace simtest
