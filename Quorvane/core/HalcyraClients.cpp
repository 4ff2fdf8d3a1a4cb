#include "HalcyraClients.h"

#include "DependencyKeys.h"

HalcyraClients HalcyraClients::live(const std::string& basePath,
                                    const std::shared_ptr<LoggerClient>& logger) {
    using Provider = halcyra::HalcyraClientProvider;
    return {Provider::authenticateClient(basePath, logger), Provider::onboardingClient(basePath, logger),
            Provider::remoteSigningClient(basePath, logger), Provider::walletClient(basePath, logger)};
}

void HalcyraClients::install() const {
    auto& values = DependencyValues::shared();
    values.set<AuthenticateAPIClientKey>(authenticate);
    values.set<OnboardingAPIClientKey>(onboarding);
    values.set<RemoteSigningAPIClientKey>(remoteSigning);
    values.set<WalletAPIClientKey>(wallet);
}
